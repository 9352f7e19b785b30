#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's nginx on 127.0.0.1, in a folder of its own, answering what the
// caller's location blocks say; with a certificate it also takes HTTPS.
class NginxServer final
{
public:
    NginxServer();
    ~NginxServer();

    // Also takes HTTPS on tlsPort() with this certificate (set before start).
    void enableTls(const QString &certificateFile, const QString &keyFile);
    // Starts nginx with the location blocks and waits until it takes connections; the error otherwise.
    [[nodiscard]] QString start(const QString &locations);
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] quint16 tlsPort() const { return m_tlsPort; }
    [[nodiscard]] QString url(const QString &path) const;

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    QString m_certificateFile;
    QString m_keyFile;
};
