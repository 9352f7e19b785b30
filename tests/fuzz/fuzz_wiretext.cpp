// Whatever a description, an address or a server message holds, what goes on
// the wire holds no CR, LF, NUL or other C0 control.

#include "fuzzcheck.h"

#include "messengers/purple/purplemessenger.h"

#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray wire = PurpleMessenger::wireText(text).toUtf8();
    for (const char byte : wire)
        FUZZ_CHECK(static_cast<unsigned char>(byte) >= 0x20 && byte != 0x7F);
    return 0;
}
