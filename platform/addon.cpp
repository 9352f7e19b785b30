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
#include <climits>
#include <cmath>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr char16_t CarriageReturn = u'\r';
constexpr char16_t LineFeed = u'\n';

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

// Files are text in the system's code page (UTF-8 here). A file brought over
// from an older system may hold single-byte text that is not valid UTF-8; it is
// read as Latin-1 then, so that no byte is replaced by a substitute character.
QString decodeText(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::System);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return QString::fromLatin1(bytes);
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

// Writes the bytes to a temporary file beside the path and renames it over the
// path only when every byte has been written. The file is unbuffered: a write
// error found only while flushing a buffer at commit would not stop the rename.
FileResult replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {writeFailure(path, file.errorString())};
    if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return {writeFailure(path, reason)};
    }
    if (!file.commit())
        return {writeFailure(path, file.errorString())};
    return {};
}

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
    // timer arrives. Another nested wait, or an early quit of the application's
    // loops, can end the loop sooner, so go round until the whole time has passed.
    for (;;) {
        const double remainingMs = wantedMs - double(clock.nsecsElapsed()) / 1e6;
        if (remainingMs <= 0)
            return;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(std::min(std::ceil(remainingMs), double(INT_MAX))));
        loop.exec();
    }
}

bool FileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

FileResult WriteTextFile(const QString &path, const QString &value)
{
    QStringEncoder encoder(QStringConverter::System);
    QByteArray bytes = encoder.encode(value);
    bytes.append("\r\n", 2);
    return replaceFile(path, bytes);
}

TextFileContents ReadTextFile(const QString &path)
{
    if (!FileExists(path))
        return {};
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
        return {};
    FileBytes file = readWholeFile(path);
    if (!file.error.isEmpty())
        return {file.error};

    const QString text = decodeText(file.bytes);
    file.bytes = {};
    const QStringView rest(text);
    QStringList rows;
    qsizetype start = 0;
    const qsizetype size = rest.size();
    while (start < size) {
        qsizetype end = rest.indexOf(CarriageReturn, start);
        if (end < 0)
            end = size; // the last line has no line end of its own
        rows.append(rest.sliced(start, end - start).toString());
        start = end + 1;
        if (end < size - 1 && rest[end + 1] == LineFeed)
            ++start;
    }
    list.addItems(rows);
    return {};
}

FileResult SaveList(const QString &path, const RowList &list)
{
    const int count = list.ListCount();
    QStringList rows;
    rows.reserve(count);
    qsizetype characters = 0;
    for (int i = 0; i < count; ++i) {
        rows.append(list.List(i));
        characters += rows.last().size() + 2;
    }

    QStringEncoder encoder(QStringConverter::System);
    QByteArray bytes(encoder.requiredSpace(characters), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QString &row : std::as_const(rows)) {
        out = encoder.appendToBuffer(out, row);
        out = encoder.appendToBuffer(out, u"\r\n");
    }
    bytes.truncate(out - bytes.constData());
    return replaceFile(path, bytes);
}

} // namespace addon
