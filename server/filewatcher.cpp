#include "server/filewatcher.h"

#include <QDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Changes come in bursts (descriptions.dat, then urls.dat); wait for the end.
constexpr int SettleMs = 300;

} // namespace

FileWatcher::FileWatcher(const QString &folder, const QStringList &files, QObject *parent)
    : QObject(parent), m_folder(folder), m_files(files)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        watchFiles();
        // Other files of the folder come and go (the lock file, libpurple's);
        // only a change of the watched files counts.
        const QByteArray now = signature();
        if (now == m_signature)
            return;
        m_signature = now;
        Q_EMIT changed();
    });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FileWatcher::somethingChanged);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &FileWatcher::somethingChanged);
    m_watcher.addPath(folder);
    watchFiles();
    m_signature = signature();
}

void FileWatcher::somethingChanged()
{
    m_settle.start();
}

void FileWatcher::watchFiles()
{
    for (const QString &name : m_files) {
        const QString path = QDir(m_folder).filePath(name);
        if (!m_watcher.files().contains(path) && QFileInfo::exists(path))
            m_watcher.addPath(path);
    }
}

QByteArray FileWatcher::signature() const
{
    // Which file it is (a replaced file is a new one), its size and its time.
    QByteArray state;
    for (const QString &name : m_files) {
        struct stat info = {};
        const QByteArray path = QFile::encodeName(QDir(m_folder).filePath(name));
        if (::stat(path.constData(), &info) == 0) {
            state += QByteArray::number(qulonglong(info.st_ino)) + ' ' + QByteArray::number(qlonglong(info.st_size)) +
                     ' ' + QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + '.' +
                     QByteArray::number(qlonglong(info.st_mtim.tv_nsec));
        }
        state += ';';
    }
    return state;
}
