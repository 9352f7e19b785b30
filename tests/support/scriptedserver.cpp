#include "support/scriptedserver.h"

#include "support/testprocesses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;

ScriptedServer::ScriptedServer(QString script, QStringList arguments)
    : m_script(std::move(script)), m_arguments(std::move(arguments))
{}

ScriptedServer::~ScriptedServer()
{
    stop();
}

QString ScriptedServer::scriptsFolder()
{
    return QStringLiteral(VALDRIN_SOURCE_DIR "/tests/interop/servers");
}

QString ScriptedServer::unavailable()
{
    const QString root = qEnvironmentVariableIsSet("VALDRIN_INTEROP_DIR") ? qEnvironmentVariable("VALDRIN_INTEROP_DIR")
                                                                          : u"/var/tmp/valdrin-interop"_s;
    for (const QString &package : {u"inspircd"_s, u"anope"_s, u"ircd-hybrid"_s, u"ejabberd"_s}) {
        if (!QFileInfo(QDir(root).filePath(package)).isDir())
            return u"%1 is not unpacked in %2: run scripts/install-interop.sh"_s.arg(package, root);
    }
    return {};
}

QString ScriptedServer::start(quint16 port, int timeoutMs)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(QDir(m_folder.path()).filePath(u"script.log"_s), QIODevice::Append);
    testprocesses::endsWithTest(m_process);
    m_process.start(u"bash"_s, QStringList{QDir(scriptsFolder()).filePath(m_script), m_folder.path()} + m_arguments);
    if (!m_process.waitForStarted(5000))
        return u"%1 did not start: %2"_s.arg(m_script, m_process.errorString());
    if (port == 0)
        return {};
    const QString listening = testprocesses::waitUntilListening(m_process, m_script, port, timeoutMs);
    return listening.isEmpty() ? QString() : listening + u"; its log ends:\n"_s + logTail();
}

void ScriptedServer::stop()
{
    testprocesses::stopProcess(m_process);
}

QString ScriptedServer::logTail() const
{
    QString tail;
    for (const QString &name : {u"script.log"_s, u"logs/console.log"_s}) {
        QFile log(QDir(m_folder.path()).filePath(name));
        if (log.open(QIODevice::ReadOnly))
            tail += QString::fromUtf8(log.readAll().right(2000));
    }
    return tail;
}

QString ScriptedServer::run(const QString &script, const QStringList &arguments) const
{
    QString output;
    for (int attempt = 0; attempt < 20; ++attempt) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(u"bash"_s, QStringList{QDir(scriptsFolder()).filePath(script), m_folder.path()} + arguments);
        if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return {};
        output = QString::fromUtf8(process.readAll());
        QTest::qWait(250);
    }
    return u"%1 %2: %3"_s.arg(script, arguments.join(u' '), output);
}
