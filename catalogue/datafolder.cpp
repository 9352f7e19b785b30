#include "catalogue/datafolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

DataFolder::DataFolder(QString path) : m_path(std::move(path)) {}

DataFolder DataFolder::programFolder()
{
    const QString own = QCoreApplication::applicationDirPath();
    return DataFolder(QFileInfo(own).isWritable() ? own : userFolder());
}

QString DataFolder::userFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(u"valdrin-aim-server"_s);
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

QString DataFolder::lockPath() const
{
    return filePath(u"catalogue.lock"_s);
}

QString DataFolder::journalPath() const
{
    return filePath(u"catalogue.journal"_s);
}

QString DataFolder::filePath(const QString &fileName) const
{
    return QDir(m_path).filePath(fileName);
}
