#include "serving/chatresponder.h"

#include "serving/sendscheduler.h"
#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

#include "catalogue/cataloguesearch.h"
#include "platform/messenger.h"
#include "platform/rowlist.h"

#include <QLoggingCategory>
#include <QUrl>
#include <QUrlQuery>

#include <cmath>

Q_LOGGING_CATEGORY(lcServing, "valdrin.serving")

using namespace Qt::StringLiterals;

ChatResponder::ChatResponder(MorvexAIMOCX::AIM *messenger, const RowList &descriptions, const RowList &addresses,
                             const ValdrinBas &values, SendScheduler &scheduler, QObject *parent)
    : QObject(parent), m_messenger(messenger), m_descriptions(descriptions), m_addresses(addresses), m_values(values),
      m_scheduler(&scheduler)
{}

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
        if (command->kind == ChatCommand::Kind::Find) {
            if (m_search)
                find(sender, command->numberText);
            return;
        }
        sendItem(sender, command->numberText);
    } catch (const MessengerError &error) {
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label,
            u"Reply to %1 stopped: %2"_s.arg(ServingTexts::shownName(sender), QString::fromUtf8(error.what())));
    } catch (const std::exception &error) {
        qCWarning(lcServing).noquote() << ServingTexts::logLine(
            m_label,
            u"Reply to %1 stopped: %2"_s.arg(ServingTexts::shownName(sender), QString::fromUtf8(error.what())));
    }
}

bool ChatResponder::admit(const QString &sender)
{
    const QString member = m_messenger->memberAddress(sender);
    if (floodGuard().admit(member))
        return true;
    // A member who floods the room is ignored, and so are the replies he has
    // waiting: his flood never pushes anyone else back.
    if (floodGuard().isMuted(member)) {
        m_scheduler->dropMember(sender, u"ignored for a minute for sending commands faster than a person types"_s,
                                m_messenger);
    }
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
    const QString reply =
        ServingTexts::itemReply(m_addresses.List(*item), m_descriptions.List(*item), m_values.ServerMessage);
    switch (m_scheduler->sendItem(sender, ServingTexts::boundedMessage(reply), m_messenger)) {
    case SendScheduler::Outcome::Started:
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"Sent item %1 to %2"_s.arg(*item).arg(ServingTexts::shownName(sender)));
        Q_EMIT answered(ChatCommand::Kind::Item);
        break;
    case SendScheduler::Outcome::Waiting:
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"Item %1 for %2 waits its turn"_s.arg(*item).arg(ServingTexts::shownName(sender)));
        Q_EMIT answered(ChatCommand::Kind::Item);
        break;
    default:
        break;
    }
}

void ChatResponder::find(const QString &sender, const QString &words)
{
    const QStringList typed = CatalogueSearch::typedWords(words);
    const QList<QByteArray> folded = CatalogueSearch::wordsOf(words);
    if (folded.isEmpty())
        return;
    if (!admit(sender))
        return;
    const std::shared_ptr<const CatalogueSearch> search = m_search->current();
    const CatalogueSearch::Found found = search ? search->find(folded, MatchesShown) : CatalogueSearch::Found{};
    QStringList lines;
    for (const int item : found.items) {
        if (item < m_descriptions.ListCount() && item < m_addresses.ListCount())
            lines.append(ServingTexts::searchMatchLine(item, m_addresses.List(item), m_descriptions.List(item)));
    }
    if (found.total > found.items.size()) {
        QString more = ServingTexts::searchMoreLine(found.total - int(found.items.size()));
        if (!m_values.CatalogueAddress.isEmpty()) {
            QUrl page(m_values.CatalogueAddress);
            QUrlQuery query;
            query.addQueryItem(u"q"_s, typed.join(u' '));
            page.setQuery(query);
            more += u" (all of them: %1)"_s.arg(page.toString(QUrl::FullyEncoded));
        }
        lines.append(more);
    }
    if (lines.isEmpty())
        lines.append(ServingTexts::nothingFoundLine(typed.join(u' ').toHtmlEscaped()));
    const QString reply = ServingTexts::boundedMessage(lines.join(ServingTexts::CarriageReturn));
    switch (m_scheduler->sendSearch(sender, reply, m_messenger)) {
    case SendScheduler::Outcome::Started:
    case SendScheduler::Outcome::Waiting:
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"Search by %1: %2 match(es)"_s.arg(ServingTexts::shownName(sender)).arg(found.total));
        Q_EMIT answered(ChatCommand::Kind::Find);
        Q_EMIT searched(found.total);
        break;
    default:
        break;
    }
}

void ChatResponder::requestList(const QString &sender)
{
    // One list at a time per member: asking again while a list is on its way,
    // or while waiting for one, keeps the member's place.
    if (m_scheduler->hasList(sender, m_messenger))
        return;
    if (!admit(sender))
        return;
    // The pages as they are now: a rebuild during the reply does not mix two lists.
    const ListPageSet &pages = m_values.ListPages;
    // A long list says so first, where the member could search instead.
    if (m_search) {
        if (const qint64 takes = m_scheduler->listDurationMs(pages); takes > LongListMs) {
            const int minutes = int(std::lround(double(takes) / 60000.0));
            m_scheduler->sendItem(sender, ServingTexts::longListLine(m_descriptions.ListCount(), minutes), m_messenger);
        }
    }
    switch (m_scheduler->sendList(sender, pages, m_messenger)) {
    case SendScheduler::Outcome::Started:
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"Sending the list, %1 page(s), to %2"_s.arg(pages.size()).arg(ServingTexts::shownName(sender)));
        Q_EMIT answered(ChatCommand::Kind::List);
        break;
    case SendScheduler::Outcome::Waiting:
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"The list for %1 waits its turn"_s.arg(ServingTexts::shownName(sender)));
        Q_EMIT answered(ChatCommand::Kind::List);
        break;
    default:
        break;
    }
}
