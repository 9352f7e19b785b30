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

namespace {

const QString SwitchOn = u"On"_s;
const QString SwitchOff = u"Off"_s;

} // namespace

ServingSwitch::ServingSwitch(MorvexAIMOCX::AIM *messenger, SendScheduler *scheduler, const RowList &descriptions,
                             QTimer *timer, QObject *parent)
    : QObject(parent), m_messenger(messenger), m_scheduler(scheduler), m_descriptions(descriptions), m_timer(timer)
{
    m_timer->setInterval(AdvertisementIntervalMs);
    m_timer->stop();
}

void ServingSwitch::runSteps(const char *handler, const std::function<void()> &steps)
{
    try {
        if (!m_messenger)
            throw MorvexAIMOCX::MessengerError(u"the messenger is gone"_s);
        steps();
    } catch (const std::exception &error) {
        qCWarning(lcServing) << handler << "stopped:" << error.what();
    }
}

void ServingSwitch::Label2_Click(SwitchCaption &caption)
{
    runSteps("Label2_Click", [&] {
        if (caption.text() != SwitchOn) {
            switchOff(caption, ServingTexts::labelStopLine());
            return;
        }
        if (!m_messenger->IsRunning()) {
            Q_EMIT refused(ServingTexts::messengerNotRunning());
            return;
        }
        if (m_messenger->ChatRoom() == 0) {
            Q_EMIT refused(ServingTexts::notInChatRoom());
            return;
        }
        ListPageBuilder::BuildList(m_descriptions, ValdrinBas::ListPages);
        m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
        m_scheduler->postInRoom(ServingTexts::startSizeLine(m_descriptions.ListCount()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::listCommandLine(m_messenger->ScreenName()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::itemCommandLine(m_messenger->ScreenName()), m_messenger);
        m_messenger->StartChatWatch();
        m_serving = true;
        caption.setText(SwitchOff);
        m_timer->start();
    });
}

void ServingSwitch::Command2_Click(SwitchCaption &caption)
{
    runSteps("Command2_Click", [&] {
        if (caption.text() != SwitchOn) {
            switchOff(caption, ServingTexts::buttonStopLine());
            return;
        }
        m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
        m_scheduler->postInRoom(ServingTexts::listCommandLine(m_messenger->ScreenName()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::itemCommandLine(m_messenger->ScreenName()), m_messenger);
        m_messenger->StartChatWatch();
        m_serving = true;
        caption.setText(SwitchOff);
        m_timer->start();
    });
}

void ServingSwitch::Timer1_Timer()
{
    runSteps("Timer1_Timer", [&] {
        m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
        m_scheduler->postInRoom(ServingTexts::advertisedSizeLine(m_descriptions.ListCount()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::listCommandLine(m_messenger->ScreenName()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::itemCommandLine(m_messenger->ScreenName()), m_messenger);
    });
}

void ServingSwitch::switchOff(SwitchCaption &caption, const QString &stopLine)
{
    m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
    m_scheduler->postInRoom(stopLine, m_messenger);
    m_messenger->StopChatWatch();
    m_serving = false;
    caption.setText(SwitchOn);
    m_timer->stop();
}
