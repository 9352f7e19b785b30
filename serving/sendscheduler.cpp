#include "serving/sendscheduler.h"

#include "serving/servingtexts.h"

#include "platform/messenger.h"

#include <QLoggingCategory>
#include <QTimer>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

SendScheduler::SendScheduler(MorvexAIMOCX::AIM *messenger, QObject *parent)
    : SendScheduler(messenger ? messenger->delivery() : Delivery{}, parent)
{
    if (messenger) {
        connect(messenger, &MorvexAIMOCX::AIM::roomJoined, this, &SendScheduler::resume);
        connect(messenger, &MorvexAIMOCX::AIM::linesSent, this, &SendScheduler::spend);
    }
}

SendScheduler::SendScheduler(const Delivery &delivery, QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_clock.start();
    m_now = [this] { return m_clock.elapsed(); };
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &SendScheduler::sendDue);
    m_lineByLine = delivery.lineByLine;
    setRate(delivery.linesPerSecond, delivery.burst);
}

Recipient SendScheduler::recipient(const QString &member, MorvexAIMOCX::AIM *room) const
{
    return {room ? room->memberAddress(member) : member, member, room};
}

SendScheduler::~SendScheduler() = default;

void SendScheduler::setRate(double linesPerSecond, int burst)
{
    m_pace.setRate(linesPerSecond, burst, now());
}

void SendScheduler::setClockForTesting(std::function<qint64()> clock)
{
    m_now = std::move(clock);
    m_useTimer = false;
    m_timer->stop();
    m_pace.restart(now());
}

void SendScheduler::postInRoom(const QList<RoomText> &block, MorvexAIMOCX::AIM *room, Waiting waiting)
{
    if (m_stopped || !room)
        throw MessengerError(u"the messenger is gone"_s);
    if (!m_roomLines.makeRoomFor(room, block.size(), waiting))
        return;
    m_pace.refill(now());
    qsizetype next = 0;
    // Nothing waits ahead of it and the network takes it now: it goes at once,
    // and the caller learns when the messenger fails.
    for (; next < block.size() && m_roomLines.isEmpty() && m_pace.mayGo(); ++next) {
        const QString text = block.at(next)();
        room->SendChat(text);
        m_pace.take(linesOf(text));
        ++m_counters.linesSent;
        m_roomLines.sentAtOnce();
    }
    for (; next < block.size(); ++next)
        m_roomLines.append(room, block.at(next));
    sendDue();
}

SendScheduler::Outcome SendScheduler::sendItem(const QString &name, const QString &text, MorvexAIMOCX::AIM *room)
{
    return offerReply(recipient(name, room), text, false);
}

SendScheduler::Outcome SendScheduler::sendSearch(const QString &name, const QString &text, MorvexAIMOCX::AIM *room)
{
    const Recipient to = recipient(name, room);
    if (const auto found = m_members.find(to.key); found != m_members.end() && !m_stopped) {
        // A new search makes the rest of the one before of no use.
        std::erase_if(found->replies, [](const MemberQueue::Reply &reply) { return reply.search; });
        if (found->sending && found->sending->search && !found->held && found->sending->partsLeft() > 0)
            found->sending->parts.resize(found->sending->next + 1);
    }
    return offerReply(to, text, true);
}

SendScheduler::Outcome SendScheduler::offerReply(const Recipient &to, const QString &text, bool search)
{
    if (m_stopped || !to.via)
        return Outcome::Refused;
    const QString &member = to.key;
    const auto found = m_members.constFind(member);
    const bool tooMany = found == m_members.cend() ? m_members.size() >= MembersWaitingAtMost
                                                   : found->replies.size() >= std::size_t(ItemRepliesWaitingPerMember);
    const qint64 waitMs = itemWaitMs(member);
    if (tooMany || waitMs > LongestItemWaitMs) {
        tellBusy(to, std::max(waitMs, timeForLines(itemLinesWaiting())));
        return Outcome::ToldBusy;
    }
    queueItem(to, text, search);
    sendDue();
    return waitMs == 0 && !m_members.contains(member) ? Outcome::Started : Outcome::Waiting;
}

qint64 SendScheduler::listDurationMs(const ListPageSet &pages) const
{
    int lines = 0;
    for (int page = 0; page < pages.size(); ++page)
        lines += linesOf(pages.at(page));
    return std::max(timeForLines(lines), qint64(pages.size() - 1) * m_pageIntervalMs);
}

SendScheduler::Outcome SendScheduler::sendList(const QString &name, const ListPageSet &pages, MorvexAIMOCX::AIM *room)
{
    const Recipient to = recipient(name, room);
    if (m_stopped || !to.via)
        return Outcome::Refused;
    if (hasList(name, room))
        return Outcome::AlreadyWaiting;
    if (m_lists.mayStart()) {
        startList(to, pages);
        sendDue();
        return Outcome::Started;
    }
    const qint64 waitMs = listWaitMs(pages);
    if (m_lists.lineIsFull() || waitMs > LongestListWaitMs) {
        tellBusy(to, waitMs);
        return Outcome::ToldBusy;
    }
    m_lists.wait({to, pages});
    return Outcome::Waiting;
}

void SendScheduler::stop()
{
    m_stopped = true;
    m_timer->stop();
    m_roomLines.clear();
    m_members.clear();
    m_turns.clear();
    m_lists.clear();
}

void SendScheduler::sendDue()
{
    if (m_sending || m_stopped)
        return;
    m_sending = true;
    const qint64 at = now();
    // A list whose last page went a page interval ago is done: its finish call
    // goes (as after every list), and the next list in line starts.
    for (const QString &name : QStringList(m_lists.running())) {
        const Member &entry = m_members[name];
        if (entry.sending || !entry.list || !entry.list->allSent() || at < entry.list->nextPageAtMs)
            continue;
        try {
            if (!entry.to.via)
                throw MessengerError(u"the room is gone"_s);
            entry.to.via->FinishIM(entry.to.name);
        } catch (const NotConnected &) {
            // Every page went out before the connection was lost: the member
            // has the whole list, and there is nothing to report.
        } catch (const std::exception &error) {
            qCInfo(lcServing).noquote() << ServingTexts::logLine(
                m_label, u"The list to %1 ended with: %2"_s.arg(ServingTexts::shownName(entry.to.name),
                                                                QString::fromUtf8(error.what())));
        }
        if (const auto found = m_members.find(name); found != m_members.end() && found->list)
            endList(name, *found);
        forgetIfIdle(name);
    }
    while (!m_stopped && sendOne(at)) {
    }
    m_sending = false;
    if (!m_roomsLeft.isEmpty())
        finishRoomsLeft();
    reportBacklog(at);
    armTimer(at);
}

SendScheduler::Member &SendScheduler::memberEntry(const Recipient &recipient)
{
    auto found = m_members.find(recipient.key);
    if (found == m_members.end()) {
        found = m_members.insert(recipient.key, Member{});
        m_turns.add(recipient.key);
    }
    // Replies go through the room the member asked in last.
    found->to = recipient;
    return *found;
}

void SendScheduler::startList(const Recipient &recipient, const ListPageSet &pages)
{
    const QString &member = recipient.key;
    Member &entry = memberEntry(recipient);
    entry.list = MemberQueue::List{pages, 0, now()};
    m_lists.started(member);
}

void SendScheduler::endList(const QString &name, Member &member)
{
    member.list.reset();
    m_lists.ended(name);
    startWaitingLists();
}

void SendScheduler::startWaitingLists()
{
    ListAdmission::Waiting next;
    while (m_lists.takeNext(next)) {
        startList(next.to, next.pages);
    }
}

void SendScheduler::forgetIfIdle(const QString &member)
{
    const auto found = m_members.constFind(member);
    if (found == m_members.cend() || !found->idle())
        return;
    m_members.erase(found);
    m_turns.remove(member);
}

void SendScheduler::spend(double lines)
{
    if (!isThrottled() || lines <= 0)
        return;
    m_pace.spend(lines, now());
    armTimer(now());
}

std::optional<QString> SendScheduler::readyMember(qint64 at) const
{
    // Item replies first, then list pages; within each, members in turn.
    for (const bool items : {true, false}) {
        const std::optional<QString> ready = m_turns.next([&](const QString &key) {
            const auto member = m_members.constFind(key);
            return member != m_members.cend() && member->ready(items, at);
        });
        if (ready)
            return ready;
    }
    return std::nullopt;
}

bool SendScheduler::sendOne(qint64 at)
{
    m_pace.refill(at);
    const bool mayGo = m_pace.mayGo();
    const std::optional<QString> ready = readyMember(at);
    // The rooms' lines go first, but after a few in a row a member who waits
    // gets one: many rooms' announcements never shut the members' replies out.
    if (m_roomLines.goesNext(ready.has_value())) {
        if (!mayGo)
            return false;
        const RoomLines::Line line = m_roomLines.take();
        QString text;
        try {
            if (!line.room)
                throw MessengerError(u"the room is gone"_s);
            text = line.text();
            line.room->SendChat(text);
            ++m_counters.linesSent;
        } catch (const std::exception &error) {
            ++m_counters.linesDropped;
            qCInfo(lcServing).noquote() << ServingTexts::logLine(
                m_label, u"A line in the room was not sent: %1"_s.arg(QString::fromUtf8(error.what())));
        }
        m_pace.take(std::max(1, linesOf(text)));
        return true;
    }
    if (!ready || !mayGo)
        return false;
    m_roomLines.memberServed();
    m_turns.served(*ready);
    sendPart(*ready);
    forgetIfIdle(*ready);
    return true;
}

void SendScheduler::sendPart(const QString &member)
{
    QString part;
    bool last = false;
    bool isPage = false;
    QString name;
    QPointer<MorvexAIMOCX::AIM> via;
    qint64 waitedMs = -1;
    qint64 queuedAtMs = 0;
    {
        Member &entry = m_members[member];
        name = entry.to.name;
        via = entry.to.via;
        if (!entry.sending) {
            if (!entry.replies.empty()) {
                const MemberQueue::Reply reply = std::move(entry.replies.front());
                entry.replies.pop_front();
                entry.sending = split(reply.text, false);
                entry.sending->queuedAtMs = reply.queuedAtMs;
                entry.sending->search = reply.search;
                waitedMs = now() - reply.queuedAtMs;
            } else {
                entry.sending = split(entry.list->pages.at(entry.list->nextPage++), true);
            }
        }
        part = entry.sending->parts.at(entry.sending->next++);
        last = entry.sending->partsLeft() <= 0;
        isPage = entry.sending->isPage;
        queuedAtMs = entry.sending->queuedAtMs;
        if (last)
            entry.sending.reset();
    }
    m_pace.take(linesOf(part));
    if (waitedMs >= 0)
        Q_EMIT itemStarted(waitedMs);
    // The messenger may call back into the program: the member is looked up
    // again after every call, and may be gone.
    bool partSent = false;
    try {
        if (!via)
            throw MessengerError(u"the room is gone"_s);
        via->SendIM(name, part);
        partSent = true;
        ++m_counters.linesSent;
        if (!last)
            return;
        via->FinishIM(name);
        // The next page a page interval after this one, measured from after its finish call.
        if (const auto found = m_members.find(member); isPage && found != m_members.end() && found->list)
            found->list->nextPageAtMs = now() + m_pageIntervalMs;
    } catch (const NotConnected &error) {
        // A lost connection loses nothing: the part waits for the room to be back.
        if (!partSent) {
            m_pace.giveBack(linesOf(part));
            holdPart(member, part, isPage, queuedAtMs);
        }
    } catch (const std::exception &error) {
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label, u"Reply to %1 stopped: %2"_s.arg(ServingTexts::shownName(name), QString::fromUtf8(error.what())));
        // What was sent stays sent; the rest of this reply goes, and a list ends here.
        const auto found = m_members.find(member);
        if (found == m_members.end())
            return;
        if (found->sending)
            m_counters.linesDropped += found->sending->partsLeft();
        found->sending.reset();
        if (isPage && found->list)
            endList(member, *found);
    }
}

void SendScheduler::holdPart(const QString &member, const QString &part, bool isPage, qint64 queuedAtMs)
{
    const auto found = m_members.find(member);
    if (found == m_members.end())
        return;
    if (found->sending)
        --found->sending->next;
    else
        found->sending = Message{QStringList{part}, 0, isPage, queuedAtMs};
    if (!found->held) {
        found->held = true;
        qCInfo(lcServing).noquote() << ServingTexts::logLine(
            m_label,
            u"The reply to %1 waits for the connection to come back"_s.arg(ServingTexts::shownName(found->to.name)));
    }
}

void SendScheduler::resume()
{
    if (m_stopped)
        return;
    const qint64 at = now();
    QStringList held;
    for (auto member = m_members.cbegin(); member != m_members.cend(); ++member) {
        if (member->held)
            held.append(member.key());
    }
    for (const QString &key : std::as_const(held)) {
        Member &entry = m_members[key];
        entry.held = false;
        int dropped = 0;
        while (!entry.replies.empty() && at - entry.replies.front().queuedAtMs > LongestItemWaitMs) {
            dropped += entry.replies.front().lines;
            entry.replies.pop_front();
        }
        const bool listTooLate = entry.list && at - entry.list->nextPageAtMs > LongestListWaitMs;
        if (entry.sending &&
            (entry.sending->isPage ? listTooLate : at - entry.sending->queuedAtMs > LongestItemWaitMs)) {
            dropped += entry.sending->partsLeft();
            entry.sending.reset();
        }
        if (listTooLate)
            dropped += listLinesLeft(*entry.list);
        if (dropped > 0) {
            m_counters.linesDropped += dropped;
            qCInfo(lcServing).noquote() << ServingTexts::logLine(
                m_label, u"Reply to %1 given up: the connection was down longer than it may wait"_s.arg(
                             ServingTexts::shownName(entry.to.name)));
        }
        if (listTooLate)
            endList(key, entry); // may start lists waiting: entry is not used after
        forgetIfIdle(key);
    }
    sendDue();
}

void SendScheduler::armTimer(qint64 at)
{
    if (!m_useTimer || m_stopped)
        return;
    qint64 due = std::numeric_limits<qint64>::max();
    const bool workWaiting =
        !m_roomLines.isEmpty() || std::any_of(m_members.cbegin(), m_members.cend(),
                                              [&](const Member &m) { return m.ready(true, at) || m.ready(false, at); });
    if (workWaiting && !m_pace.mayGo())
        due = at + m_pace.untilNextLine();
    for (const QString &name : m_lists.running()) {
        const Member &entry = m_members[name];
        if (!entry.sending && entry.replies.empty() && entry.list && entry.list->nextPageAtMs > at)
            due = std::min(due, entry.list->nextPageAtMs);
    }
    if (due == std::numeric_limits<qint64>::max()) {
        m_timer->stop();
        return;
    }
    m_timer->start(int(std::clamp<qint64>(due - at, 0, std::numeric_limits<int>::max())));
}
