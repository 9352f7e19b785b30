#include "serving/sendscheduler.h"

#include "serving/servingtexts.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

// Members and rooms that come and go while replies wait for them: a member
// who leaves or is ignored, one who takes another name, a room no longer
// served (the sending is in sendscheduler.cpp).

bool SendScheduler::hasList(const QString &name, MorvexAIMOCX::AIM *room) const
{
    const QString member = recipient(name, room).key;
    const auto found = m_members.constFind(member);
    return (found != m_members.cend() && found->list) || m_lists.isWaiting(member);
}

int SendScheduler::listLinesLeft(const MemberQueue::List &list) const
{
    // Every page is about as long as the next one.
    return list.allSent() ? 0 : linesOf(list.pages.at(list.nextPage)) * list.pagesLeft();
}

void SendScheduler::dropMember(const QString &name, const QString &why, MorvexAIMOCX::AIM *room)
{
    dropKey(recipient(name, room).key, why);
}

void SendScheduler::dropKey(const QString &member, const QString &why)
{
    qint64 dropped = 0;
    bool hadList = false;
    if (const auto found = m_members.find(member); found != m_members.end()) {
        dropped += found->replyLines();
        if (found->sending)
            dropped += found->sending->partsLeft();
        if (found->list) {
            hadList = true;
            dropped += listLinesLeft(*found->list);
            found->list.reset();
            m_lists.ended(member);
        }
        m_members.erase(found);
        m_turns.remove(member);
    }
    if (m_lists.dropWaiting(member))
        hadList = true;
    if (dropped == 0 && !hadList)
        return;
    m_counters.linesDropped += dropped;
    qCInfo(lcServing).noquote() << ServingTexts::logLine(
        m_label, u"Dropped the replies waiting for %1 (%2 line(s)%3): %4"_s.arg(ServingTexts::shownName(member))
                     .arg(dropped)
                     .arg(hadList ? u", a list"_s : QString(), why));
    startWaitingLists();
    sendDue();
}

void SendScheduler::renameMember(const QString &oldMember, const QString &newMember, MorvexAIMOCX::AIM *room)
{
    const QString oldName = recipient(oldMember, room).key;
    const QString newName = recipient(newMember, room).key;
    if (oldName == newName)
        return;
    const bool pending = m_members.contains(oldName) || m_lists.isWaiting(oldName);
    if (!pending)
        return;
    // Two members cannot share a name: what waits for a name taken over goes.
    dropKey(newName, u"the name was taken by %1"_s.arg(oldMember));
    if (const auto found = m_members.find(oldName); found != m_members.end()) {
        Member moved = std::move(*found);
        moved.to.key = newName;
        moved.to.name = newMember;
        m_members.remove(oldName);
        m_members.insert(newName, std::move(moved));
    }
    m_turns.rename(oldName, newName);
    m_lists.rename(oldName, newName, newMember);
    if (const auto told = m_toldBusyAtMs.find(oldName); told != m_toldBusyAtMs.end()) {
        m_toldBusyAtMs.insert(newName, *told);
        m_toldBusyAtMs.erase(told);
    }
    qCInfo(lcServing).noquote() << ServingTexts::logLine(
        m_label, u"The replies waiting for %1 follow the new name %2"_s.arg(ServingTexts::shownName(oldMember),
                                                                            ServingTexts::shownName(newMember)));
}

void SendScheduler::dropRoom(MorvexAIMOCX::AIM *room)
{
    if (!room)
        return;
    m_roomLines.dropRoom(room);
    m_lists.dropWaitingVia(room);
    qint64 dropped = 0;
    QStringList idle;
    for (auto member = m_members.begin(); member != m_members.end(); ++member) {
        if (member->to.via != room)
            continue;
        if (!member->sending && !member->list)
            idle.append(member.key());
        // The message on its way (a list page) is finished; the rest goes.
        dropped += member->replyLines();
        member->replies.clear();
        if (member->list) {
            dropped += listLinesLeft(*member->list);
            member->list->nextPage = member->list->pages.size();
        }
    }
    m_counters.linesDropped += dropped;
    for (const QString &member : std::as_const(idle))
        forgetIfIdle(member);
    m_roomsLeft.append(room);
    // Ended lists get their finish call as the sending goes on.
    sendDue();
    finishRoomsLeft();
}

void SendScheduler::finishRoomsLeft()
{
    for (qsizetype i = m_roomsLeft.size() - 1; i >= 0; --i) {
        MorvexAIMOCX::AIM *room = m_roomsLeft.at(i);
        const bool busy = room && std::any_of(m_members.cbegin(), m_members.cend(), [room](const Member &member) {
                              return member.to.via == room && (member.sending || member.list);
                          });
        if (busy)
            continue;
        m_roomsLeft.removeAt(i);
        if (room)
            Q_EMIT roomFinished(room);
    }
}
