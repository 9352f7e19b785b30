#include "support/xmppserver.h"

#include "support/testprocesses.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

XmppServer::XmppServer() : m_port(testprocesses::freeLoopbackPort())
{
    const QString data = QDir(m_folder.path()).filePath(u"data"_s);
    QDir().mkpath(data);
    QDir().mkpath(QDir(m_folder.path()).filePath(u"certs"_s));
    writeConfig();
}

void XmppServer::requireTls(const QString &certificateFile, const QString &keyFile)
{
    m_certificateFile = certificateFile;
    m_keyFile = keyFile;
    writeConfig();
}

void XmppServer::writeConfig()
{
    const QString data = QDir(m_folder.path()).filePath(u"data"_s);
    const bool tls = !m_certificateFile.isEmpty();
    QFile file(configPath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(
        QStringLiteral("run_as_root = true\npidfile = \"%1/prosody.pid\"\ndata_path = \"%2\"\n"
                       "certificates = \"%1/certs\"\n"
                       "c2s_ports = { %3 }\nc2s_interfaces = { \"127.0.0.1\" }\ns2s_ports = { }\n"
                       "http_ports = { }\nhttps_ports = { }\n"
                       "c2s_require_encryption = %4\nallow_unencrypted_plain_auth = true\n"
                       "authentication = \"internal_plain\"\n"
                       "modules_enabled = { \"roster\", \"saslauth\", \"disco\", \"ping\"%5 }\n"
                       "modules_disabled = { \"s2s\", %6\"posix\" }\n"
                       "log = { { levels = { min = \"error\" }, to = \"console\" } }\n")
            .arg(m_folder.path(), data)
            .arg(m_port)
            .arg(tls ? u"true"_s : u"false"_s, tls ? u", \"tls\""_s : QString(), tls ? QString() : u"\"tls\", "_s)
            .toUtf8());
    if (tls)
        file.write(QStringLiteral("ssl = { certificate = \"%1\", key = \"%2\" }\n")
                       .arg(m_certificateFile, m_keyFile)
                       .toUtf8());
    file.write("VirtualHost \"localhost\"\nComponent \"conference.localhost\" \"muc\"\n");
}

XmppServer::~XmppServer()
{
    stop();
}

QString XmppServer::configPath() const
{
    return QDir(m_folder.path()).filePath(u"prosody.cfg.lua"_s);
}

QString XmppServer::addUser(const QString &name, const QString &password)
{
    QProcess register_;
    register_.start(u"prosodyctl"_s, {u"--config"_s, configPath(), u"register"_s, name, host(), password});
    if (!register_.waitForFinished(20000) || register_.exitCode() != 0) {
        return u"prosodyctl could not register %1 (is prosody installed? apt-get install prosody): %2"_s.arg(
            name, QString::fromUtf8(register_.readAllStandardError()));
    }
    return {};
}

QString XmppServer::start()
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    testprocesses::endsWithTest(m_process);
    m_process.start(u"prosody"_s, {u"-F"_s, u"--config"_s, configPath()});
    if (!m_process.waitForStarted(5000))
        return u"prosody did not start (is it installed? apt-get install prosody): %1"_s.arg(m_process.errorString());
    const QString listening = testprocesses::waitUntilListening(m_process, u"prosody"_s, m_port, 20000);
    return listening.isEmpty() ? listening : listening + u"; its configuration was "_s + configPath();
}

void XmppServer::stop()
{
    testprocesses::stopProcess(m_process);
}
