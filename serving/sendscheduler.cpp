#include "serving/sendscheduler.h"

#include "platform/messenger.h"

#include <QLoggingCategory>
#include <QTimer>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

namespace {

// Room lines waiting at most: a room line is an announcement, never a reply.
constexpr std::size_t RoomLinesAtMost = 32;

} // namespace

SendScheduler::SendScheduler(MorvexAIMOCX::AIM *messenger, QObject *parent)
    : QObject(parent), m_messenger(messenger), m_timer(new QTimer(this))
{
    m_clock.start();
    m_now = [this] { return m_clock.elapsed(); };
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &SendScheduler::sendDue);
    if (messenger) {
        const MorvexAIMOCX::Delivery delivery = messenger->delivery();
        m_lineByLine = delivery.lineByLine;
        setRate(delivery.linesPerSecond, delivery.burst);
    }
}

SendScheduler::~SendScheduler() = default;

void SendScheduler::setRate(double linesPerSecond, int burst)
{
    m_linesPerSecond = std::isfinite(linesPerSecond) ? std::max(0.0, linesPerSecond) : 0.0;
    m_burst = std::max(1, burst);
    m_tokens = m_burst;
    m_refilledAtMs = now();
}

void SendScheduler::setClockForTesting(std::function<qint64()> clock)
{
    m_now = std::move(clock);
    m_useTimer = false;
    m_timer->stop();
    m_refilledAtMs = now();
}

void SendScheduler::postInRoom(const QString &text)
{
    if (m_stopped || !m_messenger)
        throw MorvexAIMOCX::MessengerError(u"the messenger is gone"_s);
    refill(now());
    // Nothing waits ahead of it and the network takes it now: it goes at once,
    // and the caller learns when the messenger fails.
    if (m_roomLines.empty() && (!isThrottled() || m_tokens >= 1)) {
        m_messenger->SendChat(text);
        if (isThrottled())
            m_tokens -= linesOf(text);
        ++m_counters.linesSent;
        return;
    }
    // An announcement that has not gone out yet is not bunched with the next.
    if (std::find(m_roomLines.cbegin(), m_roomLines.cend(), text) != m_roomLines.cend() ||
        m_roomLines.size() >= RoomLinesAtMost)
        return;
    m_roomLines.push_back(text);
    sendDue();
}

SendScheduler::Outcome SendScheduler::sendItem(const QString &member, const QString &text)
{
    if (m_stopped || !m_messenger)
        return Outcome::Refused;
    const auto found = m_members.constFind(member);
    const bool tooMany = found == m_members.cend() ? m_members.size() >= MembersWaitingAtMost
                                                   : found->items.size() >= std::size_t(ItemRepliesWaitingPerMember);
    const qint64 waitMs = itemWaitMs(member);
    if (tooMany || waitMs > LongestItemWaitMs) {
        tellBusy(member, std::max(waitMs, timeForLines(itemLinesWaiting())));
        return Outcome::ToldBusy;
    }
    queueItem(member, text);
    sendDue();
    return waitMs == 0 && !m_members.contains(member) ? Outcome::Started : Outcome::Waiting;
}

SendScheduler::Outcome SendScheduler::sendList(const QString &member, const ListPageSet &pages)
{
    if (m_stopped || !m_messenger)
        return Outcome::Refused;
    if (hasList(member))
        return Outcome::AlreadyWaiting;
    if (m_listsRunning < ListsAtOnce) {
        startList(member, pages);
        sendDue();
        return Outcome::Started;
    }
    const qint64 waitMs = listWaitMs(pages);
    if (m_listsWaiting.size() >= std::size_t(ListsWaitingAtMost) || waitMs > LongestListWaitMs) {
        tellBusy(member, waitMs);
        return Outcome::ToldBusy;
    }
    m_listsWaiting.emplace_back(member, pages);
    return Outcome::Waiting;
}

bool SendScheduler::hasList(const QString &member) const
{
    const auto found = m_members.constFind(member);
    return (found != m_members.cend() && found->listRunning) ||
           std::any_of(m_listsWaiting.cbegin(), m_listsWaiting.cend(),
                       [&](const auto &entry) { return entry.first == member; });
}

void SendScheduler::dropMember(const QString &member, const QString &why)
{
    qint64 dropped = 0;
    bool hadList = false;
    if (const auto found = m_members.find(member); found != m_members.end()) {
        dropped += found->itemLines;
        if (found->hasCurrent)
            dropped += found->current.parts.size() - found->current.next;
        if (found->listRunning) {
            hadList = true;
            dropped += linesOf(found->pages.at(found->nextPage)) * (found->pages.size() - found->nextPage);
            found->listRunning = false;
            m_running.removeOne(member);
            --m_listsRunning;
        }
        m_members.erase(found);
        removeTurn(member);
    }
    const auto waiting = std::find_if(m_listsWaiting.begin(), m_listsWaiting.end(),
                                      [&](const auto &entry) { return entry.first == member; });
    if (waiting != m_listsWaiting.end()) {
        m_listsWaiting.erase(waiting);
        hadList = true;
    }
    if (dropped == 0 && !hadList)
        return;
    m_counters.linesDropped += dropped;
    qCInfo(lcServing).noquote() << u"Dropped the replies waiting for %1 (%2 line(s)%3): %4"_s.arg(member)
                                       .arg(dropped)
                                       .arg(hadList ? u", a list"_s : QString(), why);
    startWaitingLists();
    sendDue();
}

void SendScheduler::renameMember(const QString &oldName, const QString &newName)
{
    if (oldName == newName)
        return;
    const bool pending = m_members.contains(oldName) ||
                         std::any_of(m_listsWaiting.cbegin(), m_listsWaiting.cend(),
                                     [&](const auto &entry) { return entry.first == oldName; });
    if (!pending)
        return;
    // Two members cannot share a name: what waits for a name taken over goes.
    dropMember(newName, u"the name was taken by %1"_s.arg(oldName));
    if (const auto found = m_members.find(oldName); found != m_members.end()) {
        m_members.insert(newName, std::move(*found));
        m_members.remove(oldName);
    }
    for (QStringList *names : {&m_turns, &m_running}) {
        for (QString &name : *names) {
            if (name == oldName)
                name = newName;
        }
    }
    for (auto &entry : m_listsWaiting) {
        if (entry.first == oldName)
            entry.first = newName;
    }
    if (const auto told = m_toldBusyAtMs.find(oldName); told != m_toldBusyAtMs.end()) {
        m_toldBusyAtMs.insert(newName, *told);
        m_toldBusyAtMs.erase(told);
    }
    qCInfo(lcServing).noquote() << u"The replies waiting for %1 follow the new name %2"_s.arg(oldName, newName);
}

void SendScheduler::stop()
{
    m_stopped = true;
    m_timer->stop();
    m_roomLines.clear();
    m_members.clear();
    m_turns.clear();
    m_running.clear();
    m_listsWaiting.clear();
    m_listsRunning = 0;
}

void SendScheduler::sendDue()
{
    if (m_sending || m_stopped || !m_messenger)
        return;
    m_sending = true;
    const qint64 at = now();
    // A list whose last page went a page interval ago is done: its finish call
    // goes (as after every list), and the next list in line starts.
    for (const QString &name : QStringList(m_running)) {
        const Member &entry = m_members[name];
        if (entry.hasCurrent || entry.nextPage < entry.pages.size() || at < entry.nextPageAtMs)
            continue;
        try {
            m_messenger->FinishIM(name);
        } catch (const std::exception &error) {
            qCInfo(lcServing) << "The list to" << name << "ended with:" << error.what();
        }
        if (const auto found = m_members.find(name); found != m_members.end() && found->listRunning)
            endList(name, *found);
        forgetIfIdle(name);
    }
    while (!m_stopped && m_messenger && sendOne(at)) {
    }
    m_sending = false;
    reportBacklog(at);
    armTimer(at);
}

SendScheduler::Member &SendScheduler::memberEntry(const QString &member)
{
    auto found = m_members.find(member);
    if (found == m_members.end()) {
        found = m_members.insert(member, Member{});
        m_turns.append(member);
    }
    return *found;
}

void SendScheduler::startList(const QString &member, const ListPageSet &pages)
{
    Member &entry = memberEntry(member);
    entry.listRunning = true;
    entry.pages = pages;
    entry.nextPage = 0;
    entry.nextPageAtMs = now();
    m_running.append(member);
    ++m_listsRunning;
    m_mostListsAtOnce = std::max(m_mostListsAtOnce, m_listsRunning);
}

void SendScheduler::endList(const QString &name, Member &member)
{
    member.listRunning = false;
    member.pages = ListPageSet();
    m_running.removeOne(name);
    --m_listsRunning;
    startWaitingLists();
}

void SendScheduler::startWaitingLists()
{
    while (m_listsRunning < ListsAtOnce && !m_listsWaiting.empty()) {
        auto [member, pages] = std::move(m_listsWaiting.front());
        m_listsWaiting.pop_front();
        startList(member, pages);
    }
}

void SendScheduler::forgetIfIdle(const QString &member)
{
    const auto found = m_members.constFind(member);
    if (found == m_members.cend() || found->hasCurrent || !found->items.empty() || found->listRunning)
        return;
    m_members.erase(found);
    removeTurn(member);
}

void SendScheduler::removeTurn(const QString &member)
{
    if (const qsizetype turn = m_turns.indexOf(member); turn >= 0) {
        m_turns.removeAt(turn);
        if (turn < m_turn)
            --m_turn;
    }
}

void SendScheduler::refill(qint64 at)
{
    if (!isThrottled())
        return;
    m_tokens = std::min(m_burst, m_tokens + double(at - m_refilledAtMs) * m_linesPerSecond / 1000.0);
    m_refilledAtMs = at;
}

bool SendScheduler::memberReady(const Member &member, bool items, qint64 at) const
{
    if (member.hasCurrent)
        return member.current.isPage != items;
    if (items)
        return !member.items.empty();
    return member.items.empty() && member.listRunning && member.nextPage < member.pages.size() &&
           at >= member.nextPageAtMs;
}

bool SendScheduler::sendOne(qint64 at)
{
    refill(at);
    const bool mayGo = !isThrottled() || m_tokens >= 1;
    if (!m_roomLines.empty()) {
        if (!mayGo)
            return false;
        const QString line = std::move(m_roomLines.front());
        m_roomLines.pop_front();
        try {
            m_messenger->SendChat(line);
            ++m_counters.linesSent;
        } catch (const std::exception &error) {
            ++m_counters.linesDropped;
            qCInfo(lcServing) << "A line in the room was not sent:" << error.what();
        }
        if (isThrottled())
            m_tokens -= linesOf(line);
        return true;
    }
    // Item replies first, then list pages; within each, members in turn.
    for (const bool items : {true, false}) {
        for (qsizetype k = 0; k < m_turns.size(); ++k) {
            const qsizetype turn = (m_turn + k) % m_turns.size();
            const QString name = m_turns.at(turn);
            if (!memberReady(m_members[name], items, at))
                continue;
            if (!mayGo)
                return false;
            m_turn = int(turn + 1);
            sendPart(name);
            forgetIfIdle(name);
            // The next turn is the member after this one, wherever the list ends.
            if (m_turns.isEmpty())
                m_turn = 0;
            return true;
        }
    }
    return false;
}

void SendScheduler::sendPart(const QString &member)
{
    QString part;
    bool last = false;
    bool isPage = false;
    {
        Member &entry = m_members[member];
        if (!entry.hasCurrent) {
            if (!entry.items.empty()) {
                entry.current = split(entry.items.front(), false);
                entry.itemLines -= linesOf(entry.items.front());
                entry.items.pop_front();
            } else {
                entry.current = split(entry.pages.at(entry.nextPage++), true);
            }
            entry.hasCurrent = true;
        }
        part = entry.current.parts.at(entry.current.next++);
        last = entry.current.next >= entry.current.parts.size();
        isPage = entry.current.isPage;
        if (last)
            entry.hasCurrent = false;
    }
    if (isThrottled())
        m_tokens -= linesOf(part);
    // The messenger may call back into the program: the member is looked up
    // again after every call, and may be gone.
    try {
        m_messenger->SendIM(member, part);
        ++m_counters.linesSent;
        if (!last)
            return;
        m_messenger->FinishIM(member);
        // The next page a page interval after this one, measured from after its finish call.
        if (const auto found = m_members.find(member); isPage && found != m_members.end())
            found->nextPageAtMs = now() + m_pageIntervalMs;
    } catch (const std::exception &error) {
        qCInfo(lcServing) << "Reply to" << member << "stopped:" << error.what();
        // What was sent stays sent; the rest of this reply goes, and a list ends here.
        const auto found = m_members.find(member);
        if (found == m_members.end())
            return;
        if (found->hasCurrent)
            m_counters.linesDropped += found->current.parts.size() - found->current.next;
        found->hasCurrent = false;
        if (isPage && found->listRunning)
            endList(member, *found);
    }
}

void SendScheduler::armTimer(qint64 at)
{
    if (!m_useTimer || m_stopped)
        return;
    qint64 due = std::numeric_limits<qint64>::max();
    const bool workWaiting = !m_roomLines.empty() || std::any_of(m_members.cbegin(), m_members.cend(), [&](const Member &m) {
        return memberReady(m, true, at) || memberReady(m, false, at);
    });
    if (workWaiting && isThrottled() && m_tokens < 1)
        due = at + qint64(std::ceil((1 - m_tokens) * 1000.0 / m_linesPerSecond));
    for (const QString &name : m_running) {
        const Member &entry = m_members[name];
        if (!entry.hasCurrent && entry.items.empty() && entry.nextPageAtMs > at)
            due = std::min(due, entry.nextPageAtMs);
    }
    if (due == std::numeric_limits<qint64>::max()) {
        m_timer->stop();
        return;
    }
    m_timer->start(int(std::clamp<qint64>(due - at, 0, std::numeric_limits<int>::max())));
}
