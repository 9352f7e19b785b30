#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
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

// A data folder of the program's for one test: a fresh temporary folder, the
// paths of its files, and catalogue files written as the program writes them.
class DataFolder final
{
public:
    [[nodiscard]] bool isValid() const { return m_dir.isValid(); }
    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Writes the rows into the file, each line ended by CR LF.
    [[nodiscard]] bool writeRows(const QString &name, const QStringList &rows) const
    {
        QByteArray bytes;
        for (const QString &row : rows)
            bytes += row.toUtf8() + "\r\n";
        return writeBytes(filePath(name), bytes);
    }
    // descriptions.dat and urls.dat with the same rows of about sixty characters.
    [[nodiscard]] bool writeSampleCatalogue(int items) const
    {
        const QStringList rows = sampleRows(items);
        return writeRows(QStringLiteral("descriptions.dat"), rows) && writeRows(QStringLiteral("urls.dat"), rows);
    }

private:
    QTemporaryDir m_dir;
};

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

// A small disk of its own while alive: a tmpfs of the given size mounted on a
// fresh folder (only root may mount; elsewhere isMounted() is false). fill()
// takes its last free byte, so writes fail as on a full disk; makeReadOnly()
// turns it read-only, which a folder's permissions cannot do for root.
class TinyDisk
{
public:
    explicit TinyDisk(int kib) : m_options(QByteArray("size=") + QByteArray::number(kib) + "k")
    {
        m_mounted = m_dir.isValid() && ::mount("tmpfs", m_dir.path().toLocal8Bit().constData(), "tmpfs",
                                               MS_NOSUID | MS_NODEV, m_options.constData()) == 0;
    }
    ~TinyDisk()
    {
        if (m_mounted)
            ::umount2(m_dir.path().toLocal8Bit().constData(), MNT_DETACH);
    }
    TinyDisk(const TinyDisk &) = delete;
    TinyDisk &operator=(const TinyDisk &) = delete;

    [[nodiscard]] bool isMounted() const { return m_mounted; }
    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Writes a ballast file until the disk has no room left.
    void fill() const
    {
        QFile ballast(filePath(QStringLiteral(".ballast")));
        if (!ballast.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(4096, 'b');
        while (ballast.write(block) == block.size()) {
        }
        for (qint64 written = 1; written > 0;)
            written = ballast.write("b", 1);
    }
    // Gives the disk's room back.
    void empty() const { QFile::remove(filePath(QStringLiteral(".ballast"))); }
    [[nodiscard]] bool makeReadOnly() const { return remount(MS_RDONLY); }
    [[nodiscard]] bool makeWritable() const { return remount(0); }

private:
    [[nodiscard]] bool remount(unsigned long flags) const
    {
        return ::mount(nullptr, m_dir.path().toLocal8Bit().constData(), nullptr,
                       MS_REMOUNT | MS_NOSUID | MS_NODEV | flags, m_options.constData()) == 0;
    }

    QTemporaryDir m_dir;
    QByteArray m_options;
    bool m_mounted = false;
};

} // namespace testfiles
