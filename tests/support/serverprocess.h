#pragma once

#include "support/testfiles.h"
#include "support/testprocesses.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTest>

// The server binary run by a benchmark on a data folder of its own, with a
// sample catalogue and the given network.conf; its log lines are kept.
struct ServerProcess
{
    testfiles::DataFolder folder;
    QProcess process;
    QStringList log;
    QElapsedTimer sinceStart;

    QString start(const QString &binary, int items, const QString &settings)
    {
        const QString conf = folder.filePath(QStringLiteral("network.conf"));
        if (!folder.writeSampleCatalogue(items) || !testfiles::writeBytes(conf, settings.toUtf8()) ||
            !QFile::setPermissions(conf, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return QStringLiteral("the data folder could not be written");
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, [this] {
            while (process.canReadLine())
                log.append(QString::fromUtf8(process.readLine()).trimmed());
        });
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        process.setProcessEnvironment(environment);
        sinceStart.start();
        testprocesses::endsWithTest(process);
        process.start(binary, {QStringLiteral("--data-dir"), folder.path()});
        return process.waitForStarted(5000) ? QString() : process.errorString();
    }
    [[nodiscard]] int joined() const { return int(log.filter(QStringLiteral("Joined the room")).size()); }
    // Milliseconds until every room was joined, or -1.
    qint64 waitForRooms(int rooms)
    {
        if (!QTest::qWaitFor([&] { return joined() >= rooms; }, 60000))
            return -1;
        return sinceStart.elapsed();
    }
    [[nodiscard]] qint64 residentKb() const
    {
        return testprocesses::residentKilobytes(QString::number(process.processId()));
    }
    // The part of it that is the process's own (not pages of shared libraries and files).
    [[nodiscard]] qint64 anonymousKb() const
    {
        return testprocesses::residentKilobytes(QString::number(process.processId()), "RssAnon:");
    }
    ~ServerProcess() { testprocesses::stopProcess(process); }
};
