#pragma once

#include <QProcess>
#include <QTemporaryDir>

// An IRC server (ngircd) for one test run, on a free port of 127.0.0.1. It can
// be stopped and started again on the same port, as a server restart.
class IrcServer final
{
public:
    IrcServer();
    ~IrcServer();

    // Starts the server and waits until it takes connections; the error otherwise.
    [[nodiscard]] QString start();
    // A password every connection must give (set before start).
    void setPassword(const QString &password) { m_password = password; }
    // Keeps ngircd's flood penalty, which passes three lines a second from a
    // client (set before start); otherwise the server passes all at once.
    void setThrottled(bool throttled) { m_throttled = throttled; }
    // Also takes TLS connections, on tlsPort(), with this certificate (set before start).
    void enableTls(const QString &certificateFile, const QString &keyFile);
    [[nodiscard]] quint16 tlsPort() const { return m_tlsPort; }
    void stop();
    [[nodiscard]] quint16 port() const { return m_port; }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_password;
    bool m_throttled = false;
    QString m_certificateFile;
    QString m_keyFile;
    quint16 m_tlsPort = 0;
};
