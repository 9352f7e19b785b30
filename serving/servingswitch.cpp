#include "serving/servingswitch.h"

#include "serving/listpagebuilder.h"
#include "serving/sendscheduler.h"
#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

#include "platform/messenger.h"
#include "platform/rowlist.h"

#include <QLoggingCategory>
#include <QTimer>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

ServingSwitch::ServingSwitch(MorvexAIMOCX::AIM *messenger, SendScheduler *scheduler, const RowList &descriptions,
                             ValdrinBas &values, QTimer *timer, QObject *parent)
    : QObject(parent), m_messenger(messenger), m_scheduler(scheduler), m_descriptions(descriptions), m_values(values),
      m_timer(timer)
{
    m_timer->setInterval(AdvertisementIntervalMs);
    m_timer->stop();
}

bool ServingSwitch::runSteps(const char *what, const std::function<void()> &steps)
{
    try {
        if (!m_messenger)
            throw MessengerError(u"the messenger is gone"_s);
        steps();
        return true;
    } catch (const std::exception &error) {
        qCWarning(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"%1 stopped: %2"_s.arg(QLatin1StringView(what), QString::fromUtf8(error.what())));
        return false;
    }
}

void ServingSwitch::setServing(bool serving)
{
    const bool changed = serving != m_serving;
    m_serving = serving;
    if (changed)
        Q_EMIT servingChanged(serving);
}

bool ServingSwitch::switchOn(OpeningLines lines)
{
    bool refused = false;
    const bool done = runSteps("Switching on", [&] {
        if (lines == OpeningLines::Full) {
            if (!m_messenger->IsRunning()) {
                refused = true;
                Q_EMIT this->refused(ServingTexts::messengerNotRunning());
                return;
            }
            if (m_messenger->ChatRoom() == 0) {
                refused = true;
                Q_EMIT this->refused(ServingTexts::notInChatRoom());
                return;
            }
            ListPageBuilder::BuildList(m_descriptions, m_values.ListPages);
        }
        QList<SendScheduler::RoomText> block{fixed(ServingTexts::titleLine())};
        if (lines == OpeningLines::Full)
            block.append(fixed(ServingTexts::startSizeLine(m_descriptions.ListCount())));
        m_scheduler->postInRoom(block + commandLines(), m_messenger, SendScheduler::Waiting::Replace);
        m_messenger->StartChatWatch();
        setServing(true);
        m_timer->start();
    });
    return done && !refused;
}

bool ServingSwitch::switchOff(StopLine line)
{
    return runSteps("Switching off", [&] {
        m_scheduler->postInRoom(
            {fixed(ServingTexts::titleLine()),
             fixed(line == StopLine::NoLongerServing ? ServingTexts::labelStopLine() : ServingTexts::buttonStopLine())},
            m_messenger, SendScheduler::Waiting::Replace);
        m_messenger->StopChatWatch();
        setServing(false);
        m_timer->stop();
    });
}

void ServingSwitch::advertise()
{
    runSteps("The advertisement", [&] {
        const QList<SendScheduler::RoomText> block{fixed(ServingTexts::titleLine()),
                                                   fixed(ServingTexts::advertisedSizeLine(m_descriptions.ListCount()))};
        m_scheduler->postInRoom(block + commandLines(), m_messenger, SendScheduler::Waiting::Keep);
    });
}

SendScheduler::RoomText ServingSwitch::fixed(const QString &text)
{
    return [text] { return text; };
}

QList<SendScheduler::RoomText> ServingSwitch::commandLines() const
{
    // The commands name the program's nick as it is when each line leaves: a
    // nick taken back meanwhile (from a ghost of the program) is the one to type.
    const QPointer<MorvexAIMOCX::AIM> messenger = m_messenger;
    const auto nick = [messenger] {
        if (!messenger)
            throw MessengerError(u"the messenger is gone"_s);
        return messenger->ScreenName();
    };
    QList<SendScheduler::RoomText> lines{[nick] { return ServingTexts::listCommandLine(nick()); },
                                         [nick] { return ServingTexts::itemCommandLine(nick()); }};
    if (m_searchTold)
        lines.append([nick] { return ServingTexts::findCommandLine(nick()); });
    if (!m_values.CatalogueAddress.isEmpty())
        lines.append(fixed(ServingTexts::catalogueAddressLine(m_values.CatalogueAddress)));
    return lines;
}
