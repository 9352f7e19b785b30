#include "serving/chatresponder.h"

#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

#include "platform/addon.h"
#include "platform/messenger.h"
#include "platform/rowlist.h"

#include <QLoggingCategory>
#include <QScopeGuard>

Q_LOGGING_CATEGORY(lcServing, "valdrin.serving")

ChatResponder::ChatResponder(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                             QObject *parent)
    : QObject(parent), m_messenger(messenger), m_descriptions(descriptions), m_addresses(addresses),
      m_pause(&addon::Pause)
{
}

ChatResponder::~ChatResponder()
{
    *m_alive = false;
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

void ChatResponder::sendItem(const QString &sender, const QString &numberText)
{
    const std::optional<int> item = ChatCommand::itemNumber(numberText, m_descriptions.ListCount());
    // An item whose address row is missing (files of unequal length) is not sent.
    if (!item || *item >= m_addresses.ListCount())
        return;
    if (!m_floodGuard.admit(sender))
        return;
    const QString reply = ServingTexts::itemReply(m_addresses.List(*item), m_descriptions.List(*item),
                                                  ValdrinBas::ServerMessage);
    m_messenger->SendIM(sender, ServingTexts::boundedMessage(reply));
    m_messenger->FinishIM(sender);
    qCInfo(lcServing) << "Sent item" << *item << "to" << sender;
}

void ChatResponder::requestList(const QString &sender)
{
    // One list at a time per member: asking again while a list is on its way,
    // or while waiting for one, keeps the member's place.
    if (m_listRecipients.contains(sender) || m_listQueue.contains(sender))
        return;
    if (!m_floodGuard.admit(sender))
        return;
    // Only a few lists are sent at once: every list in progress waits in a nested
    // event loop, so this also bounds the stack. The others wait in turn.
    if (m_listRecipients.size() >= ListRepliesAtOnce) {
        if (m_listQueue.size() < QueuedListsAtMost)
            m_listQueue.append(sender);
        return;
    }
    sendList(sender);
}

void ChatResponder::sendNextWaitingList()
{
    try {
        if (m_stopped || !m_messenger || m_listQueue.isEmpty() || m_listRecipients.size() >= ListRepliesAtOnce)
            return;
        sendList(m_listQueue.takeFirst());
    } catch (const std::exception &error) {
        qCInfo(lcServing) << "A waiting list reply stopped:" << error.what();
    }
}

void ChatResponder::sendList(const QString &sender)
{
    // The pages as they are now: a rebuild during the reply does not mix two lists.
    const ListPageSet pages = ValdrinBas::ListPages;
    QPointer<MorvexAIMOCX::AIM> messenger = m_messenger;
    const PauseFunction pause = m_pause;
    const double interval = m_pageInterval;
    const std::shared_ptr<bool> alive = m_alive;
    m_listRecipients.insert(sender);
    m_mostListReplies = std::max(m_mostListReplies, int(m_listRecipients.size()));
    const auto done = qScopeGuard([this, alive, sender] {
        if (!*alive)
            return;
        m_listRecipients.remove(sender);
        // The next member in line is served from the event loop, not from
        // inside this reply's frame.
        if (!m_listQueue.isEmpty())
            QMetaObject::invokeMethod(this, &ChatResponder::sendNextWaitingList, Qt::QueuedConnection);
    });

    for (int page = 0; page < pages.size(); ++page) {
        messenger->SendIM(sender, ServingTexts::boundedMessage(pages.at(page)));
        messenger->FinishIM(sender);
        pause(interval);
        // During the pause the window, the messenger or this responder may have
        // gone, or the program may be closing.
        if (!*alive || !messenger || m_stopped)
            return;
    }
    messenger->FinishIM(sender);
    qCInfo(lcServing) << "Sent the list," << pages.size() << "page(s), to" << sender;
}
