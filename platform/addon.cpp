#include "platform/addon.h"

#include "platform/durablefile.h"
#include "platform/rowlist.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString readFailure(const QString &path, const QString &reason)
{
    return u"Could not read %1: %2"_s.arg(nativePath(path), reason);
}

// Why a path that is no regular file cannot be used as a data file; empty
// text when nothing is there at all (a missing file is no error).
QString notAFile(const QString &path)
{
    const durablefile::Target target = durablefile::targetOf(path);
    return target.error.isEmpty() ? QString() : readFailure(path, target.error);
}

struct FileBytes
{
    QByteArray bytes;
    QString error;
};

FileBytes readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, readFailure(path, file.errorString())};
    FileBytes result{file.readAll(), {}};
    if (file.error() != QFileDevice::NoError)
        return {{}, readFailure(path, file.errorString())};
    return result;
}

// Calls take(line) for every line of the bytes: a line ends at CR LF or at a
// lone CR; a lone LF stays in the line, and a last line needs no line end.
template <typename Take> void forEachLine(QByteArrayView bytes, Take take)
{
    const char *const begin = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        const auto *cr = static_cast<const char *>(std::memchr(begin + start, '\r', size_t(size - start)));
        const qsizetype end = cr ? cr - begin : size;
        take(bytes.sliced(start, end - start));
        start = end + 1;
        if (start < size && begin[start] == '\n')
            ++start;
    }
}

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// Rows go to a list in batches of this many, so loading a big catalogue never
// holds all of it as text twice.
constexpr qsizetype LoadBatchRows = 1024;

// Appends the lines of the bytes to the list as rows and says how many were
// not UTF-8. Each line is judged on its own, so one stray byte from an old
// system changes the reading of its own row and of no other.
int appendLines(QByteArrayView bytes, RowList &list)
{
    int converted = 0;
    const bool allUtf8 = bytes.isValidUtf8();
    // Rows kept as UTF-8 take the file's valid lines as they are.
    if (auto *compact = dynamic_cast<StringRowList *>(&list)) {
        forEachLine(bytes, [&](QByteArrayView line) {
            if (allUtf8 || line.isValidUtf8()) {
                compact->appendUtf8(line);
            } else {
                ++converted;
                compact->AddItem(addon::fromWindows1252(line));
            }
        });
        return converted;
    }
    QStringList batch;
    batch.reserve(LoadBatchRows);
    forEachLine(bytes, [&](QByteArrayView line) {
        bool lineConverted = false;
        batch.append(allUtf8 ? textOfUtf8(line) : addon::textOfBytes(line, &lineConverted));
        converted += lineConverted ? 1 : 0;
        if (batch.size() == LoadBatchRows) {
            list.addItems(std::move(batch));
            batch = QStringList();
            batch.reserve(LoadBatchRows);
        }
    });
    if (!batch.isEmpty())
        list.addItems(std::move(batch));
    return converted;
}

// The text of a value file, decoded line by line as rows are; a byte-order
// mark is dropped.
QString decodeText(QByteArrayView bytes)
{
    if (bytes.startsWith(ByteOrderMark))
        bytes = bytes.sliced(3);
    if (bytes.isValidUtf8())
        return textOfUtf8(bytes);
    QString text;
    bool converted = false;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n') + 1;
        const QByteArrayView line = end > 0 ? bytes.first(end) : bytes;
        text += addon::textOfBytes(line, &converted);
        bytes = bytes.sliced(line.size());
    }
    return text;
}

// Replaces a file whole and durably with what `write` puts in its new file.
template <typename Write> FileResult replaceFile(const QString &path, Write write)
{
    const durablefile::Target target = durablefile::targetOf(path);
    if (!target.error.isEmpty())
        return {durablefile::writeFailure(path, target.error + u"; it was left as it is"_s)};
    durablefile::NewFile file(target.value, path);
    write(file);
    if (FileResult finished = file.finish(); !finished.ok())
        return finished;
    return durablefile::moveIntoPlace(file.path(), target.value, path);
}

} // namespace

namespace addon {

QString textOfBytes(QByteArrayView bytes, bool *converted)
{
    if (bytes.isValidUtf8())
        return textOfUtf8(bytes);
    if (converted)
        *converted = true;
    return fromWindows1252(bytes);
}

QString fromWindows1252(QByteArrayView bytes)
{
    static constexpr char16_t High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                          0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = byte >= 0x80 && byte < 0xA0 ? High[byte - 0x80] : char16_t(byte);
    }
    return text;
}

void Pause(double seconds)
{
    // "Not greater than zero" also catches NaN, which would otherwise never end.
    if (!(seconds > 0))
        return;
    const double wantedMs = std::min(seconds * 1000.0, double(LLONG_MAX / 2));
    QElapsedTimer clock;
    clock.start();

    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(wantedMs));
        return;
    }

    // A timer ends a nested event loop: the thread sleeps until an event or the
    // timer arrives. Nothing else ends this loop but the application quitting,
    // which ends every loop and lets no new one run: then the wait is over.
    for (;;) {
        const double remainingMs = wantedMs - double(clock.nsecsElapsed()) / 1e6;
        if (remainingMs <= 0)
            return;
        QEventLoop loop;
        QTimer timer;
        bool rang = false;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
            rang = true;
            loop.quit();
        });
        timer.start(int(std::min(std::ceil(remainingMs), double(INT_MAX))));
        loop.exec();
        if (!rang)
            return;
    }
}

bool FileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

FileResult WriteTextFile(const QString &path, const QString &value)
{
    return replaceFile(path, [&value](durablefile::NewFile &file) {
        file.write(value.toUtf8());
        file.write("\r\n");
    });
}

TextFileContents ReadTextFile(const QString &path)
{
    if (!FileExists(path))
        return {{}, notAFile(path)};
    FileBytes file = readWholeFile(path);
    if (!file.error.isEmpty())
        return {{}, file.error};
    QString text = decodeText(file.bytes);
    if (text.endsWith(u"\r\n"))
        text.chop(2);
    return {text, {}};
}

FileResult LoadList(const QString &path, RowList &list, RowFileFormat *format)
{
    if (!FileExists(path))
        return {notAFile(path)};
    const FileBytes file = readWholeFile(path);
    if (!file.error.isEmpty())
        return {file.error};
    QByteArrayView bytes = file.bytes;
    const bool byteOrderMark = bytes.startsWith(ByteOrderMark);
    if (byteOrderMark)
        bytes = bytes.sliced(3);
    const int converted = appendLines(bytes, list);
    if (format)
        *format = {byteOrderMark, converted};
    return {};
}

void WriteRows(durablefile::NewFile &file, const RowList &list, bool byteOrderMark)
{
    if (byteOrderMark)
        file.write(ByteOrderMark);
    // Rows kept as UTF-8 are written as they are.
    if (const auto *compact = dynamic_cast<const StringRowList *>(&list)) {
        for (int row = 0; row < compact->ListCount(); ++row) {
            file.write(compact->utf8(row));
            file.write("\r\n");
        }
        return;
    }
    for (int row = 0; row < list.ListCount(); ++row) {
        file.write(list.List(row).toUtf8());
        file.write("\r\n");
    }
}

FileResult SaveList(const QString &path, const RowList &list, bool byteOrderMark)
{
    return replaceFile(path, [&](durablefile::NewFile &file) { WriteRows(file, list, byteOrderMark); });
}

} // namespace addon
