#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A chat server of the kind public networks run (InspIRCd, Anope, ircd-hybrid,
// ejabberd), started from its script in tests/interop/servers, in a folder of
// its own, on ports of 127.0.0.1 the test gives. scripts/install-interop.sh
// puts the servers where the scripts find them. It can be stopped and started
// again on the same folder and ports, as a server restart.
class ScriptedServer final
{
public:
    // The script's name ("inspircd.sh") and its arguments after the folder.
    ScriptedServer(QString script, QStringList arguments);
    ~ScriptedServer();

    // Starts the server and waits until it takes connections on the port
    // (none: does not wait); the error otherwise, with the end of its log.
    [[nodiscard]] QString start(quint16 port, int timeoutMs = 30000);
    void stop();
    [[nodiscard]] QString folder() const { return m_folder.path(); }
    // The last lines of the server's console log, for a failure's message.
    [[nodiscard]] QString logTail() const;
    // Runs another script of the folder's (ejabberdctl.sh) against this
    // server's folder, again for a few seconds while it fails (a server takes
    // its port a moment before it takes commands); empty text once it worked,
    // else the command and its output.
    [[nodiscard]] QString run(const QString &script, const QStringList &arguments) const;

    // Why the interop servers cannot run here (not installed), or empty.
    [[nodiscard]] static QString unavailable();
    [[nodiscard]] static QString scriptsFolder();

private:
    QString m_script;
    QStringList m_arguments;
    QTemporaryDir m_folder;
    QProcess m_process;
};
