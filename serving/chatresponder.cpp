#include "serving/chatresponder.h"

#include "serving/sendscheduler.h"
#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

#include "platform/messenger.h"
#include "platform/rowlist.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcServing, "valdrin.serving")

using namespace Qt::StringLiterals;

ChatResponder::ChatResponder(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                             SendScheduler *scheduler, QObject *parent)
    : QObject(parent), m_messenger(messenger), m_descriptions(descriptions), m_addresses(addresses),
      m_scheduler(scheduler ? scheduler : new SendScheduler(messenger, this))
{
}

ChatResponder::~ChatResponder() = default;

void ChatResponder::stopReplies()
{
    m_stopped = true;
    m_scheduler->stop();
}

void ChatResponder::handleChatLine(const QString &sender, const QString &text)
{
    // No failure of the messenger, and nothing a member typed, leaves this handler.
    try {
        if (!m_messenger || m_stopped)
            return;
        const std::optional<ChatCommand> command = m_forms.parse(text, m_messenger->ScreenName());
        if (!command)
            return;
        if (command->kind == ChatCommand::Kind::List) {
            requestList(sender);
            return;
        }
        // The program's own lines come back from the room; it never answers itself.
        if (sender == m_messenger->ScreenName())
            return;
        sendItem(sender, command->numberText);
    } catch (const MorvexAIMOCX::MessengerError &error) {
        qCInfo(lcServing) << "Reply to" << sender << "stopped:" << error.what();
    } catch (const std::exception &error) {
        qCWarning(lcServing) << "Reply to" << sender << "stopped:" << error.what();
    }
}

bool ChatResponder::admit(const QString &sender)
{
    if (m_floodGuard.admit(sender))
        return true;
    // A member who floods the room is ignored, and so are the replies he has
    // waiting: his flood never pushes anyone else back.
    if (m_floodGuard.isMuted(sender))
        m_scheduler->dropMember(sender, u"ignored for a minute for sending commands faster than a person types"_s);
    return false;
}

void ChatResponder::sendItem(const QString &sender, const QString &numberText)
{
    const std::optional<int> item = ChatCommand::itemNumber(numberText, m_descriptions.ListCount());
    // An item whose address row is missing (files of unequal length) is not sent.
    if (!item || *item >= m_addresses.ListCount())
        return;
    if (!admit(sender))
        return;
    const QString reply = ServingTexts::itemReply(m_addresses.List(*item), m_descriptions.List(*item),
                                                  ValdrinBas::ServerMessage);
    switch (m_scheduler->sendItem(sender, ServingTexts::boundedMessage(reply))) {
    case SendScheduler::Outcome::Started:
        qCInfo(lcServing) << "Sent item" << *item << "to" << sender;
        break;
    case SendScheduler::Outcome::Waiting:
        qCInfo(lcServing) << "Item" << *item << "for" << sender << "waits its turn";
        break;
    default:
        break;
    }
}

void ChatResponder::requestList(const QString &sender)
{
    // One list at a time per member: asking again while a list is on its way,
    // or while waiting for one, keeps the member's place.
    if (m_scheduler->hasList(sender))
        return;
    if (!admit(sender))
        return;
    // The pages as they are now: a rebuild during the reply does not mix two lists.
    const ListPageSet &pages = ValdrinBas::ListPages;
    switch (m_scheduler->sendList(sender, pages)) {
    case SendScheduler::Outcome::Started:
        qCInfo(lcServing) << "Sending the list," << pages.size() << "page(s), to" << sender;
        break;
    case SendScheduler::Outcome::Waiting:
        qCInfo(lcServing) << "The list for" << sender << "waits its turn";
        break;
    default:
        break;
    }
}
