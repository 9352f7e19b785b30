#include "platform/durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

// New content is handed to the system in pieces of this size, so saving a big
// catalogue never needs a second copy of it in memory.
constexpr qsizetype WriteChunkBytes = 64 * 1024;

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString linkTarget(const QByteArray &link)
{
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink(link.constData(), target.data(), size_t(target.size()));
    return length < 0 ? QString() : QFile::decodeName(target.left(length));
}

} // namespace

namespace durablefile {

QString reason(int error)
{
    switch (error) {
    case ENOSPC:
        return u"the disk is full"_s;
    case EDQUOT:
        return u"the disk quota of this user is used up"_s;
    case EROFS:
        return u"the disk or folder is read-only"_s;
    case EACCES:
    case EPERM:
        return u"permission denied"_s;
    case EFBIG:
        return u"the file would grow past the largest size this system allows"_s;
    case EMFILE:
    case ENFILE:
        return u"too many files are open"_s;
    case EIO:
        return u"the disk reported an input/output error"_s;
    case ENOENT:
        return u"the folder does not exist"_s;
    case ENOTDIR:
        return u"a part of its path is not a folder"_s;
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString writeFailure(const QString &path, const QString &reason)
{
    return u"Could not write %1: %2"_s.arg(QDir::toNativeSeparators(path), reason);
}

Target targetOf(const QString &path)
{
    const QByteArray name = native(path);
    struct stat info
    {
    };
    if (::lstat(name.constData(), &info) != 0)
        return errno == ENOENT ? Target{path, {}} : Target{{}, reason(errno)};
    if (S_ISLNK(info.st_mode)) {
        char *resolved = ::realpath(name.constData(), nullptr);
        if (!resolved || ::stat(resolved, &info) != 0) {
            std::free(resolved);
            return {{}, u"it is a symbolic link to %1, which does not exist or loops"_s.arg(linkTarget(name))};
        }
        const QString target = QFile::decodeName(resolved);
        std::free(resolved);
        if (S_ISREG(info.st_mode))
            return {target, {}};
        return {{}, u"it is a symbolic link to %1, which is not a regular file"_s.arg(target)};
    }
    if (S_ISDIR(info.st_mode))
        return {{}, u"it is a folder, not a file"_s};
    if (!S_ISREG(info.st_mode))
        return {{}, u"it is not a regular file (a pipe, a socket or a device)"_s};
    return {path, {}};
}

QString folderProblem(const QString &folder)
{
    const QByteArray name = native(folder);
    struct statvfs disk
    {
    };
    if (::statvfs(name.constData(), &disk) == 0) {
        if (disk.f_flag & ST_RDONLY)
            return reason(EROFS);
        if (disk.f_bavail == 0)
            return reason(ENOSPC);
    }
    if (::access(name.constData(), W_OK) != 0)
        return reason(errno);
    return {};
}

QString newPathFor(const QString &target)
{
    return target + u".valdrin-new"_s;
}

NewFile::NewFile(const QString &target, const QString &shownName) : m_path(newPathFor(target)), m_shownName(shownName)
{
    // A link under the new file's name is never followed: the content goes
    // beside the target and nowhere else.
    m_fd = ::open(native(m_path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_fd < 0) {
        fail(errno);
        return;
    }
    // The new file keeps the permissions the old one had.
    struct stat old
    {
    };
    if (::stat(native(target).constData(), &old) == 0)
        (void)::fchmod(m_fd, old.st_mode & 07777);
    m_buffer.resize(WriteChunkBytes);
}

NewFile::~NewFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_finished || !m_error.isEmpty())
        ::unlink(native(m_path).constData());
}

void NewFile::write(QByteArrayView bytes)
{
    if (m_used + bytes.size() > m_buffer.size()) {
        flush();
        if (bytes.size() >= m_buffer.size()) {
            writeOut(bytes); // large pieces go straight through
            return;
        }
    }
    if (!bytes.isEmpty()) // an empty piece may be no pointer at all
        std::memcpy(m_buffer.data() + m_used, bytes.data(), size_t(bytes.size()));
    m_used += bytes.size();
}

void NewFile::flush()
{
    writeOut(QByteArrayView(m_buffer).first(m_used));
    m_used = 0;
}

void NewFile::writeOut(QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (m_error.isEmpty() && left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written < 0) {
            if (errno != EINTR)
                fail(errno);
            continue;
        }
        data += written;
        left -= written;
    }
}

FileResult NewFile::finish()
{
    flush();
    if (m_error.isEmpty() && ::fsync(m_fd) != 0)
        fail(errno);
    if (m_fd >= 0 && ::close(m_fd) != 0 && m_error.isEmpty())
        fail(errno);
    m_fd = -1;
    m_finished = true;
    if (!m_error.isEmpty())
        ::unlink(native(m_path).constData());
    return {m_error};
}

void NewFile::fail(int error)
{
    if (m_error.isEmpty())
        m_error = writeFailure(m_shownName, reason(error));
}

FileResult moveIntoPlace(const QString &newPath, const QString &target, const QString &shownName)
{
    if (::rename(native(newPath).constData(), native(target).constData()) != 0)
        return {writeFailure(shownName, reason(errno))};
    syncFolder(QFileInfo(target).absolutePath());
    return {};
}

void syncFolder(const QString &folder)
{
    // Some file systems cannot flush a folder; their renames are as durable as they get.
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::fsync(fd);
    ::close(fd);
}

} // namespace durablefile
