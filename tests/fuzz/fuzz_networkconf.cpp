// Any text as network.conf: settings or an error, never both, and an error
// that names a line names one the text has.

#include "fuzzcheck.h"

#include "networkconf/networksettings.h"

#include <QRegularExpression>
#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const NetworkSettings::Parsed parsed = NetworkSettings::parse(text);
    FUZZ_CHECK(parsed.value.has_value() != !parsed.error.isEmpty());
    if (parsed.value) {
        FUZZ_CHECK(!parsed.value->protocolId.isEmpty());
        FUZZ_CHECK(!parsed.value->account.isEmpty());
        FUZZ_CHECK(!parsed.value->rooms.isEmpty() && !parsed.value->rooms.first().name.isEmpty());
        return 0;
    }
    static const QRegularExpression lineNumber(QStringLiteral("line (\\d+)"));
    const QRegularExpressionMatch match = lineNumber.match(parsed.error);
    if (match.hasMatch()) {
        const qsizetype line = match.captured(1).toLongLong();
        // Lines end in LF, CR LF or CR alone.
        static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
        FUZZ_CHECK(line >= 1 && line <= text.split(lineEnd).size());
    }
    return 0;
}
