// Any bytes as a row file: every line is a row, nothing is dropped, rows
// loaded, saved and loaded again are the same rows (a row that was not UTF-8
// is never decoded twice), and saving them again writes the same bytes.

#include "fuzzcheck.h"

#include "platform/addon.h"
#include "platform/rowlist.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <unistd.h>

namespace {

QString scratchPath(const char *name)
{
    static const QString folder = [] {
        const QString path = QDir::tempPath() + QStringLiteral("/valdrin-fuzz-") + QString::number(::getpid());
        QDir().mkpath(path);
        return path;
    }();
    return folder + u'/' + QLatin1StringView(name);
}

// Lines end at CR LF or a lone CR; a last line without an end counts too.
// A byte-order mark at the start is no part of the first line.
int linesIn(const QByteArray &bytes)
{
    int lines = 0;
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < bytes.size()) {
        qsizetype cr = bytes.indexOf('\r', start);
        if (cr < 0)
            cr = bytes.size();
        ++lines;
        start = cr + 1;
        if (start < bytes.size() && bytes[start] == '\n')
            ++start;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString first = scratchPath("first.dat");
    const QString second = scratchPath("second.dat");
    {
        QFile file(first);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }
    StringRowList loaded;
    RowFileFormat format;
    FUZZ_CHECK(addon::LoadList(first, loaded, &format).ok());
    FUZZ_CHECK(loaded.ListCount() == linesIn(bytes));
    FUZZ_CHECK(format.byteOrderMark == bytes.startsWith("\xEF\xBB\xBF"));

    FUZZ_CHECK(addon::SaveList(second, loaded, format.byteOrderMark).ok());
    StringRowList again;
    RowFileFormat againFormat;
    FUZZ_CHECK(addon::LoadList(second, again, &againFormat).ok());
    FUZZ_CHECK(again.allRows() == loaded.allRows());
    FUZZ_CHECK(againFormat.convertedRows == 0 && againFormat.byteOrderMark == format.byteOrderMark);

    const QByteArray saved = [&] {
        QFile file(second);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    FUZZ_CHECK(addon::SaveList(second, again, againFormat.byteOrderMark).ok());
    QFile file(second);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == saved);
    return 0;
}
