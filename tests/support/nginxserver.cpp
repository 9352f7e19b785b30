#include "support/nginxserver.h"

#include "support/testprocesses.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

NginxServer::NginxServer() : m_port(testprocesses::freeLoopbackPort()) {}

NginxServer::~NginxServer()
{
    testprocesses::stopProcess(m_process);
}

void NginxServer::enableTls(const QString &certificateFile, const QString &keyFile)
{
    m_certificateFile = certificateFile;
    m_keyFile = keyFile;
    m_tlsPort = testprocesses::freeLoopbackPort();
}

QString NginxServer::url(const QString &path) const
{
    return u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path);
}

QString NginxServer::start(const QString &locations)
{
    const QString folder = m_folder.path();
    const QString config = QDir(folder).filePath(u"nginx.conf"_s);
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return u"cannot write %1"_s.arg(config);
    QString text = u"pid %1/nginx.pid;\nworker_processes 1;\nerror_log stderr error;\n"
                   u"events { worker_connections 1024; }\nhttp {\naccess_log off;\n"
                   u"client_body_temp_path %1/body;\nproxy_temp_path %1/proxy;\nfastcgi_temp_path %1/fastcgi;\n"
                   u"uwsgi_temp_path %1/uwsgi;\nscgi_temp_path %1/scgi;\nkeepalive_requests 100000;\n"
                   u"server {\nlisten 127.0.0.1:%2;\n%3\n}\n"_s.arg(folder)
                       .arg(m_port)
                       .arg(locations);
    if (m_tlsPort != 0) {
        text += u"server {\nlisten 127.0.0.1:%1 ssl;\nssl_certificate %2;\nssl_certificate_key %3;\n%4\n}\n"_s
                    .arg(m_tlsPort)
                    .arg(m_certificateFile, m_keyFile, locations);
    }
    text += u"}\n"_s;
    file.write(text.toUtf8());
    file.close();

    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    testprocesses::endsWithTest(m_process);
    m_process.start(u"/usr/sbin/nginx"_s, {u"-p"_s, folder, u"-c"_s, config, u"-e"_s, u"stderr"_s, u"-g"_s,
                                           u"daemon off; master_process off;"_s});
    if (!m_process.waitForStarted(5000))
        return u"nginx did not start (is it installed? apt-get install nginx-light): %1"_s.arg(m_process.errorString());
    const QString listening = testprocesses::waitUntilListening(m_process, u"nginx"_s, m_port, 10000);
    return listening.isEmpty() ? listening : listening + u"; its configuration was "_s + config;
}
