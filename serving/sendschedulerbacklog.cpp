#include "serving/sendscheduler.h"

#include "serving/servingtexts.h"

#include <QLoggingCategory>
#include <QRegularExpression>

#include <cmath>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

// The scheduler's backlog: what waits, how long it takes to send at the
// network's rate, and the members told to ask again (the sending is in
// sendscheduler.cpp).

namespace {

// libpurple cuts an IRC line longer than the protocol allows into several;
// each costs the server's allowance like any other line.
constexpr qsizetype WireLineBytes = 400;
// Members told "busy" are remembered for a minute, this many at most.
constexpr int BusyMembersRemembered = 4096;

QString busyText(qint64 waitMs)
{
    return u"busy: ask again in about %1 s"_s.arg(std::max<qint64>(1, (waitMs + 999) / 1000));
}

} // namespace

void SendScheduler::queueItem(const Recipient &recipient, const QString &text, bool search)
{
    memberEntry(recipient).replies.push_back({text, now(), linesOf(text), search});
}

SendScheduler::Counters SendScheduler::counters() const
{
    Counters counters = m_counters;
    counters.linesWaiting = m_roomLines.size() + itemLinesWaiting();
    for (const QString &name : m_lists.running()) {
        const Member &entry = m_members[name];
        if (entry.list)
            counters.linesWaiting += entry.list->pagesLeft() * (m_lineByLine ? ListPageSet::PageRows : 1);
    }
    counters.listsRunning = int(m_lists.running().size());
    counters.listsWaiting = m_lists.waitingCount();
    return counters;
}

QStringList SendScheduler::wireLines(const QString &text)
{
    // What the network makes of a message: a line per line break. An empty
    // line is none: the server refuses an empty line ("412 No text to send"),
    // and the member would never see it, but it would cost a slot of the pace.
    static const QRegularExpression lineBreak(u"\r\n|\r|\n"_s);
    return text.split(lineBreak, Qt::SkipEmptyParts);
}

SendScheduler::Message SendScheduler::split(const QString &text, bool isPage) const
{
    Message message;
    message.isPage = isPage;
    if (m_lineByLine)
        message.parts = wireLines(text);
    // An empty message is handed over as it is; the network sends nothing for it.
    if (message.parts.isEmpty())
        message.parts.append(m_lineByLine ? QString() : text);
    return message;
}

int SendScheduler::linesOf(const QString &text) const
{
    if (!m_lineByLine)
        return 1;
    // A message of no line at all (an empty list page) sends nothing and costs nothing.
    int lines = 0;
    for (const QString &line : wireLines(text))
        lines += int(std::max<qsizetype>(1, (line.toUtf8().size() + WireLineBytes - 1) / WireLineBytes));
    return lines;
}

int SendScheduler::itemLinesWaiting() const
{
    int lines = 0;
    for (const Member &entry : m_members) {
        lines += entry.replyLines();
        if (entry.sending)
            lines += entry.sending->partsLeft();
    }
    return lines;
}

qint64 SendScheduler::itemWaitMs(const QString &member) const
{
    if (!isThrottled())
        return 0;
    // Members take turns a line each: ahead of a new reply are the member's
    // own earlier replies, about one line of every other member with a reply
    // waiting for every line of his own, and the rooms' lines among them.
    double own = 0;
    if (const auto found = m_members.constFind(member); found != m_members.cend()) {
        own += found->replyLines();
        if (found->sending)
            own += found->sending->partsLeft();
    }
    double members = own;
    for (auto it = m_members.cbegin(); it != m_members.cend(); ++it) {
        if (it.key() == member)
            continue;
        double theirs = it->replyLines();
        if (it->sending && !it->sending->isPage)
            theirs += it->sending->partsLeft();
        members += std::min(theirs, own + 1);
    }
    // The rooms' lines go ahead too, but no more than a few for every member's line.
    const double rooms = std::min(double(m_roomLines.size()), RoomLinesInARow * (members + 1));
    return timeForLines(members + rooms + 1 - m_pace.tokens());
}

qint64 SendScheduler::listWaitMs(const ListPageSet &pages) const
{
    const double rowsPerPage = m_lineByLine ? ListPageSet::PageRows : 1;
    // A list alone takes its lines at the network's rate, or its pages a page interval apart.
    const auto listTime = [&](double pageCount, int sharing) {
        return std::max(timeForLines(pageCount * rowsPerPage * sharing), qint64(pageCount * double(m_pageIntervalMs)));
    };
    qint64 firstFree = std::numeric_limits<qint64>::max();
    const int running = int(m_lists.running().size());
    for (const QString &name : m_lists.running()) {
        const Member &entry = m_members[name];
        if (entry.list)
            firstFree = std::min(firstFree, listTime(entry.list->pagesLeft(), running));
    }
    if (running == 0)
        firstFree = 0;
    // Then one of the lists before it ends about every time a list takes alone.
    return firstFree + qint64(m_lists.waitingCount()) * listTime(pages.size(), 1);
}

void SendScheduler::tellBusy(const Recipient &recipient, qint64 waitMs)
{
    const QString &member = recipient.key;
    const qint64 at = now();
    const auto told = m_toldBusyAtMs.constFind(member);
    if (told != m_toldBusyAtMs.cend() && at - *told < BusyNoticeEveryMs) {
        ++m_counters.requestsRefused;
        return;
    }
    if (m_toldBusyAtMs.size() >= BusyMembersRemembered) {
        m_toldBusyAtMs.removeIf([&](const auto &entry) { return at - entry.value() >= BusyNoticeEveryMs; });
        if (m_toldBusyAtMs.size() >= BusyMembersRemembered) {
            ++m_counters.requestsRefused;
            return;
        }
    }
    m_toldBusyAtMs.insert(member, at);
    ++m_counters.toldBusy;
    qCInfo(lcServing).noquote() << ServingTexts::logLine(
        m_label, u"Told %1 to ask again in about %2 s: the replies waiting would take too long"_s
                     .arg(ServingTexts::shownName(recipient.name))
                     .arg(std::max<qint64>(1, (waitMs + 999) / 1000)));
    queueItem(recipient, busyText(waitMs), false);
    sendDue();
}

void SendScheduler::reportBacklog(qint64 at)
{
    if (!isThrottled() || at - m_backlogReportedAtMs < BacklogReportEveryMs)
        return;
    const Counters now = counters();
    const qint64 backlogMs = timeForLines(now.linesWaiting);
    if (backlogMs < LongBacklogMs)
        return;
    m_backlogReportedAtMs = at;
    qCWarning(lcServing).noquote() << ServingTexts::logLine(
        m_label,
        u"Send backlog: about %1 s of replies waiting (%2 lines at %3 a second; %4 list(s) being sent, %5 "
        u"waiting). So far %6 lines sent, %7 dropped, %8 members told to ask again."_s.arg((backlogMs + 999) / 1000)
            .arg(now.linesWaiting)
            .arg(m_pace.linesPerSecond())
            .arg(now.listsRunning)
            .arg(now.listsWaiting)
            .arg(now.linesSent)
            .arg(now.linesDropped)
            .arg(now.toldBusy));
}
