#include "messengers/localroom/localroom.h"

#include <QTimer>

using namespace Qt::StringLiterals;

LocalRoom::LocalRoom(QString screenName, QObject *parent) : AIM(parent), m_screenName(std::move(screenName)) {}

void LocalRoom::requireRunning(const char *call) const
{
    if (!m_running)
        throw MessengerError(u"%1: the local room is shut down"_s.arg(QLatin1StringView(call)));
}

void LocalRoom::SendChat(const QString &text)
{
    requireRunning("SendChat");
    if (!m_inRoom)
        throw MessengerError(u"SendChat: the program is not in the local room"_s);
    post(m_screenName, text);
}

void LocalRoom::SendIM(const QString &screenName, const QString &text)
{
    requireRunning("SendIM");
    m_messages[screenName].append(text);
    Q_EMIT messageSent(screenName, text);
}

void LocalRoom::FinishIM(const QString &screenName)
{
    requireRunning("FinishIM");
    Q_UNUSED(screenName);
}

void LocalRoom::post(const QString &member, const QString &text)
{
    if (!m_running || !m_inRoom)
        return; // nobody is there to read it
    const Line line{member, text};
    m_roomLines.append(line);
    Q_EMIT roomLineAdded(line);
    // As on a network, the line reaches the program later, from the event loop;
    // the program's own lines come back to it too. A line written before the
    // watching started is never reported.
    if (!m_watching)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, line] {
            if (m_watching && m_running && m_inRoom)
                Q_EMIT ChatLine(line.sender, line.text);
        },
        Qt::QueuedConnection);
}

void LocalRoom::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    if (!running)
        m_watching = false;
    Q_EMIT stateChanged();
}

void LocalRoom::setInRoom(bool inRoom)
{
    if (m_inRoom == inRoom)
        return;
    m_inRoom = inRoom;
    Q_EMIT stateChanged();
}
