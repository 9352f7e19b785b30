#include "support/ircserver.h"

#include "support/testprocesses.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

IrcServer::IrcServer() : m_port(testprocesses::freeLoopbackPort()) {}

IrcServer::~IrcServer()
{
    stop();
}

void IrcServer::enableTls(const QString &certificateFile, const QString &keyFile)
{
    m_certificateFile = certificateFile;
    m_keyFile = keyFile;
    if (m_tlsPort == 0)
        m_tlsPort = testprocesses::freeLoopbackPort();
}

QString IrcServer::start()
{
    const QString config = QDir(m_folder.path()).filePath(u"ngircd.conf"_s);
    const QString empty = QDir(m_folder.path()).filePath(u"empty"_s);
    QDir().mkpath(empty);
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return u"cannot write %1"_s.arg(config);
    // No limits on connections from one address: the tests bring twenty members
    // from 127.0.0.1. Without flood penalties unless asked for: most tests
    // measure the program, not the server.
    file.write(QStringLiteral("[Global]\nName = irc.test\nInfo = Valdrin test server\nListen = 127.0.0.1\n"
                              "Ports = %1\nMotdPhrase = \"test\"\n[Limits]\nMaxConnectionsIP = 0\nMaxJoins = 0\n"
                              "%3MaxNickLength = 30\n[Options]\nDNS = no\nIdent = no\nPAM = no\n"
                              "IncludeDir = %2\n")
                   .arg(m_port)
                   .arg(empty, m_throttled ? QString() : u"MaxPenaltyTime = 0\n"_s)
                   .toUtf8());
    if (!m_password.isEmpty())
        file.write(QStringLiteral("[Global]\nPassword = %1\n").arg(m_password).toUtf8());
    if (!m_certificateFile.isEmpty()) {
        file.write(QStringLiteral("[SSL]\nCertFile = %1\nKeyFile = %2\nPorts = %3\n")
                       .arg(m_certificateFile, m_keyFile)
                       .arg(m_tlsPort)
                       .toUtf8());
    }
    file.close();

    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    testprocesses::endsWithTest(m_process);
    m_process.start(u"ngircd"_s, {u"-n"_s, u"-f"_s, config});
    if (!m_process.waitForStarted(5000))
        return u"ngircd did not start (is it installed? apt-get install ngircd): %1"_s.arg(m_process.errorString());

    const QString listening = testprocesses::waitUntilListening(m_process, u"ngircd"_s, m_port, 10000);
    return listening.isEmpty() ? listening : listening + u"; its configuration was "_s + config;
}

void IrcServer::stop()
{
    testprocesses::stopProcess(m_process);
}
