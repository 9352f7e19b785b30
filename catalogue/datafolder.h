#pragma once

#include <QString>

// The folder that holds the program's three data files.
class DataFolder final
{
public:
    explicit DataFolder(QString path);

    // The folder of the program's executable, where the data files live by default.
    [[nodiscard]] static DataFolder programFolder();

    [[nodiscard]] const QString &path() const { return m_path; }
    [[nodiscard]] QString descriptionsPath() const;
    [[nodiscard]] QString addressesPath() const;
    [[nodiscard]] QString messagePath() const;

private:
    [[nodiscard]] QString filePath(const QString &fileName) const;

    QString m_path;
};
