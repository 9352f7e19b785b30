#include "platform/addon.h"

#include "platform/rowlist.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <climits>
#include <cmath>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Large files are written in pieces of this size, so saving a big catalogue
// never needs a second copy of it in memory.
constexpr qsizetype WriteChunkBytes = 64 * 1024;

// Text in files is in the system's code page: the ANSI code page on Windows,
// UTF-8 elsewhere. Naming UTF-8 directly takes Qt's fast converter.
#ifdef Q_OS_WIN
constexpr auto FileEncoding = QStringConverter::System;
#else
constexpr auto FileEncoding = QStringConverter::Utf8;
#endif

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString readFailure(const QString &path, const QString &reason)
{
    return u"Could not read %1: %2"_s.arg(nativePath(path), reason);
}

QString writeFailure(const QString &path, const QString &reason)
{
    return u"Could not write %1: %2"_s.arg(nativePath(path), reason);
}

// Why a path that is no regular file cannot be used as a data file; empty
// text when nothing is there at all (a missing file is no error).
QString notAFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() && !info.exists())
        return readFailure(path, u"it is a symbolic link to %1, which does not exist or loops"_s.arg(info.symLinkTarget()));
    if (!info.exists())
        return {};
    if (info.isDir())
        return readFailure(path, u"it is a folder, not a file"_s);
    if (!info.isFile())
        return readFailure(path, u"it is not a regular file (a pipe, a socket or a device)"_s);
    return {};
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
template <typename Take>
void forEachLine(QByteArrayView bytes, Take take)
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

// Rows go to a list in batches of this many, so loading a big catalogue never
// holds all of it as text twice.
constexpr qsizetype LoadBatchRows = 1024;

// Appends the lines of the bytes to the list as rows. A file brought over from
// an older system may hold single-byte text that is not valid UTF-8; it is read
// as Latin-1 then, so that no byte is replaced by a substitute character.
void appendLines(QByteArrayView bytes, RowList &list)
{
#ifndef Q_OS_WIN
    // Rows kept as UTF-8 take the file's lines as they are.
    if (auto *compact = dynamic_cast<StringRowList *>(&list); compact && bytes.isValidUtf8()) {
        forEachLine(bytes, [compact](QByteArrayView line) { compact->appendUtf8(line); });
        return;
    }
#endif
    QStringList batch;
    batch.reserve(LoadBatchRows);
    const auto add = [&](QString line) {
        batch.append(std::move(line));
        if (batch.size() == LoadBatchRows) {
            list.addItems(std::move(batch));
            batch = QStringList();
            batch.reserve(LoadBatchRows);
        }
    };
#ifdef Q_OS_WIN
    QStringDecoder decoder(FileEncoding);
    forEachLine(bytes, [&](QByteArrayView line) { add(decoder.decode(line)); });
#else
    if (bytes.isValidUtf8())
        forEachLine(bytes, [&](QByteArrayView line) { add(QString::fromUtf8(line)); });
    else
        forEachLine(bytes, [&](QByteArrayView line) { add(QString::fromLatin1(line)); });
#endif
    if (!batch.isEmpty())
        list.addItems(std::move(batch));
}

QString decodeText(QByteArrayView bytes)
{
    QStringDecoder decoder(FileEncoding);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

// Replaces a file whole: the text goes to a temporary file beside the path,
// which is renamed over the path only when every byte has been written and
// flushed. The file is unbuffered, because a write error that showed up only
// while a buffer is flushed at commit would not stop the rename.
class FileReplacement final
{
public:
    explicit FileReplacement(const QString &path) : m_path(path), m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            m_error = writeFailure(path, m_file.errorString());
    }

    // Appends text, encoded in the system's code page, with CR LF after it.
    void writeLine(QStringView text)
    {
        const qsizetype needed = m_encoder.requiredSpace(text.size() + 2);
        if (m_used + needed > m_buffer.size()) {
            flush();
            if (needed > m_buffer.size())
                m_buffer.resize(std::max(needed, WriteChunkBytes));
        }
        char *const start = m_buffer.data() + m_used;
        char *end = m_encoder.appendToBuffer(start, text);
        end = m_encoder.appendToBuffer(end, u"\r\n");
        m_used += end - start;
    }

    // Appends bytes already in the file's encoding, with CR LF after them.
    void writeEncodedLine(QByteArrayView bytes)
    {
        const qsizetype needed = bytes.size() + 2;
        if (m_used + needed > m_buffer.size()) {
            flush();
            if (needed > m_buffer.size())
                m_buffer.resize(std::max(needed, WriteChunkBytes));
        }
        if (!bytes.isEmpty()) // an empty row's bytes may be no pointer at all
            std::memcpy(m_buffer.data() + m_used, bytes.data(), size_t(bytes.size()));
        m_buffer[m_used + bytes.size()] = '\r';
        m_buffer[m_used + bytes.size() + 1] = '\n';
        m_used += needed;
    }

    [[nodiscard]] FileResult commit()
    {
        flush();
        if (!m_error.isEmpty()) {
            m_file.cancelWriting();
            return {m_error};
        }
        if (!m_file.commit())
            return {writeFailure(m_path, m_file.errorString())};
        return {};
    }

private:
    void flush()
    {
        if (m_error.isEmpty() && m_used > 0) {
            if (m_file.write(m_buffer.constData(), m_used) != m_used || m_file.error() != QFileDevice::NoError)
                m_error = writeFailure(m_path, m_file.errorString());
        }
        m_used = 0;
    }

    QString m_path;
    QSaveFile m_file;
    QStringEncoder m_encoder{FileEncoding};
    QByteArray m_buffer;
    qsizetype m_used = 0;
    QString m_error;
};

} // namespace

namespace addon {

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
    FileReplacement file(path);
    file.writeLine(value);
    return file.commit();
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

FileResult LoadList(const QString &path, RowList &list)
{
    if (!FileExists(path))
        return {notAFile(path)};
    const FileBytes file = readWholeFile(path);
    if (!file.error.isEmpty())
        return {file.error};
    appendLines(file.bytes, list);
    return {};
}

FileResult SaveList(const QString &path, const RowList &list)
{
#ifndef Q_OS_WIN
    // Rows kept as UTF-8 are written as they are.
    if (const auto *compact = dynamic_cast<const StringRowList *>(&list)) {
        FileReplacement file(path);
        for (int row = 0; row < compact->ListCount(); ++row)
            file.writeEncodedLine(compact->utf8(row));
        return file.commit();
    }
#endif
    const QStringList rows = list.allRows();
    FileReplacement file(path);
    for (const QString &row : rows)
        file.writeLine(row);
    return file.commit();
}

} // namespace addon
