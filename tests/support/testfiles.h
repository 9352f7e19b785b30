#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

namespace testfiles {

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Rows of about sixty characters, each one different.
inline QStringList sampleRows(int count)
{
    QStringList rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows.append(QStringLiteral("Item %1: a page about links, tools and other things %2").arg(i).arg(i % 97));
    return rows;
}

// While alive, the process cannot open another file: every open fails with
// "too many open files". Root ignores file permissions, so this is how the
// tests make a file that exists but cannot be read.
class NoFreeFileDescriptors
{
public:
    NoFreeFileDescriptors()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        const int lowestFree = dup(0);
        close(lowestFree);
        rlimit tight = m_saved;
        tight.rlim_cur = rlim_t(lowestFree);
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~NoFreeFileDescriptors() { setrlimit(RLIMIT_NOFILE, &m_saved); }
    NoFreeFileDescriptors(const NoFreeFileDescriptors &) = delete;
    NoFreeFileDescriptors &operator=(const NoFreeFileDescriptors &) = delete;

private:
    rlimit m_saved{};
};

// While alive, no file can grow past the given size: a write beyond it fails the
// way a full disk does, whoever the process runs as.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit tight = m_saved;
        tight.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &tight);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

} // namespace testfiles
