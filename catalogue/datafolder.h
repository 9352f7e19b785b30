#pragma once

#include <QString>

// The folder that holds the program's three data files.
class DataFolder final
{
public:
    explicit DataFolder(QString path);

    // The folder of the program's executable, where the data files live by
    // default; once the program is installed there, a folder of the user's.
    [[nodiscard]] static DataFolder programFolder();
    // Where the data files live when the program's own folder is not writable.
    [[nodiscard]] static QString userFolder();

    [[nodiscard]] const QString &path() const { return m_path; }
    [[nodiscard]] QString descriptionsPath() const;
    [[nodiscard]] QString addressesPath() const;
    [[nodiscard]] QString messagePath() const;
    // The lock file that keeps two programs from changing the catalogue at once.
    [[nodiscard]] QString lockPath() const;
    // The mark a save of the two list files leaves while it replaces them.
    [[nodiscard]] QString journalPath() const;

private:
    [[nodiscard]] QString filePath(const QString &fileName) const;

    QString m_path;
};
