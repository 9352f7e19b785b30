#pragma once

#include <QProcess>
#include <QTemporaryDir>

// An XMPP server (prosody) with a multi-user chat service, for one test run,
// on a free port of 127.0.0.1, without TLS.
class XmppServer final
{
public:
    XmppServer();
    ~XmppServer();

    [[nodiscard]] QString start();
    // Takes clients over TLS only (STARTTLS), with this certificate (set before start).
    void requireTls(const QString &certificateFile, const QString &keyFile);
    void stop();
    // Adds a user of the host "localhost"; the error otherwise.
    [[nodiscard]] QString addUser(const QString &name, const QString &password);
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] static QString host() { return QStringLiteral("localhost"); }
    [[nodiscard]] static QString roomService() { return QStringLiteral("conference.localhost"); }

private:
    [[nodiscard]] QString configPath() const;
    void writeConfig();

    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_certificateFile;
    QString m_keyFile;
};
