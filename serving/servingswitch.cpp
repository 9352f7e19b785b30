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
            throw MorvexAIMOCX::MessengerError(u"the messenger is gone"_s);
        steps();
        return true;
    } catch (const std::exception &error) {
        qCWarning(lcServing) << what << "stopped:" << error.what();
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
        m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
        if (lines == OpeningLines::Full)
            m_scheduler->postInRoom(ServingTexts::startSizeLine(m_descriptions.ListCount()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::listCommandLine(m_messenger->ScreenName()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::itemCommandLine(m_messenger->ScreenName()), m_messenger);
        postCatalogueAddress();
        m_messenger->StartChatWatch();
        setServing(true);
        m_timer->start();
    });
    return done && !refused;
}

bool ServingSwitch::switchOff(StopLine line)
{
    return runSteps("Switching off", [&] {
        m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
        m_scheduler->postInRoom(line == StopLine::NoLongerServing ? ServingTexts::labelStopLine()
                                                                  : ServingTexts::buttonStopLine(),
                                m_messenger);
        m_messenger->StopChatWatch();
        setServing(false);
        m_timer->stop();
    });
}

void ServingSwitch::advertise()
{
    runSteps("The advertisement", [&] {
        m_scheduler->postInRoom(ServingTexts::titleLine(), m_messenger);
        m_scheduler->postInRoom(ServingTexts::advertisedSizeLine(m_descriptions.ListCount()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::listCommandLine(m_messenger->ScreenName()), m_messenger);
        m_scheduler->postInRoom(ServingTexts::itemCommandLine(m_messenger->ScreenName()), m_messenger);
        postCatalogueAddress();
    });
}

void ServingSwitch::postCatalogueAddress()
{
    if (!m_values.CatalogueAddress.isEmpty())
        m_scheduler->postInRoom(ServingTexts::catalogueAddressLine(m_values.CatalogueAddress), m_messenger);
}
