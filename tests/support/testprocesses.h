#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

// Helpers for the servers and programs the network tests run as processes.
namespace testprocesses {

// The process gets SIGTERM when the test ends, however it ends: a failed
// assertion, a sanitizer's abort or a crash leave no server running behind it.
inline void endsWithTest(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// A TCP port on 127.0.0.1 that nothing listens on right now.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The answer of a web face on 127.0.0.1 to GET path: status line, headers, body.
inline QByteArray fetch(quint16 port, const QByteArray &path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(3000))
        answer += socket.readAll();
    return answer;
}

// Waits until the server process takes connections on the port; the error otherwise.
inline QString waitUntilListening(const QProcess &server, const QString &name, quint16 port, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (probe.waitForConnected(200))
            return {};
        if (server.state() != QProcess::Running)
            return QStringLiteral("%1 stopped at once").arg(name);
        QThread::msleep(50);
    }
    return QStringLiteral("%1 does not take connections on port %2").arg(name).arg(port);
}

// Ends a server process: politely first, then by force.
inline void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

// The resident memory of a process (this one by default), in kilobytes: all of
// it (VmRSS), or only the process's own pages, not those of shared libraries
// and files (RssAnon).
inline qint64 residentKilobytes(const QString &pid = QStringLiteral("self"), const QByteArray &field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// The names of the files under a folder that a process (this one by default) has mapped.
inline QStringList mappedFilesUnder(const QString &folder, const QString &pid = QStringLiteral("self"))
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    QStringList names;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const qsizetype slash = line.indexOf('/');
        if (slash < 0)
            continue;
        const QString path = QString::fromLocal8Bit(line.mid(slash)).trimmed();
        if (path.startsWith(prefix) && !names.contains(path.mid(prefix.size())))
            names.append(path.mid(prefix.size()));
    }
    names.sort();
    return names;
}

} // namespace testprocesses
