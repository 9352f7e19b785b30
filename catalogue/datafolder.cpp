#include "catalogue/datafolder.h"

#include <QCoreApplication>
#include <QDir>

using namespace Qt::StringLiterals;

DataFolder::DataFolder(QString path) : m_path(std::move(path)) {}

DataFolder DataFolder::programFolder()
{
    return DataFolder(QCoreApplication::applicationDirPath());
}

QString DataFolder::descriptionsPath() const
{
    return filePath(u"descriptions.dat"_s);
}

QString DataFolder::addressesPath() const
{
    return filePath(u"urls.dat"_s);
}

QString DataFolder::messagePath() const
{
    return filePath(u"message.txt"_s);
}

QString DataFolder::filePath(const QString &fileName) const
{
    return QDir(m_path).filePath(fileName);
}
