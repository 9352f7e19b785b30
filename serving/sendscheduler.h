#pragma once

#include "platform/messenger.h"
#include "serving/listadmission.h"
#include "serving/listpages.h"
#include "serving/memberqueue.h"
#include "serving/memberturns.h"
#include "serving/roomlines.h"
#include "serving/tokenbucket.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <deque>
#include <functional>
#include <utility>

class QTimer;

// Everything the program sends to one connection goes through here, and leaves
// at the rate the network takes it: the rooms' own lines first (but never all
// of the pace while a member waits), then members in turn, an item reply ahead of any list page, each member's pages in
// order and a second apart. A request that could not start for a long while is answered "busy" instead of joining a
// queue nobody sees the end of.
class SendScheduler final : public QObject
{
    Q_OBJECT

public:
    // Lists sent at once (in turn, line by line); the others wait in line.
    static constexpr int ListsAtOnce = ListAdmission::ListsAtOnce;
    static constexpr int ListsWaitingAtMost = ListAdmission::ListsWaitingAtMost;
    // An item reply that could not start within this is not queued: "busy".
    static constexpr qint64 LongestItemWaitMs = 30000;
    // A list that could not start within this is not queued either.
    static constexpr qint64 LongestListWaitMs = 300000;
    static constexpr int ItemRepliesWaitingPerMember = 4;
    // Members with something waiting; one more is told busy.
    static constexpr int MembersWaitingAtMost = 1024;
    static constexpr qint64 BusyNoticeEveryMs = 60000;
    static constexpr qint64 BacklogReportEveryMs = 60000;
    static constexpr int RoomLinesInARow = RoomLines::InARow;
    // A backlog this long (in time to send it) is worth a line in the log.
    static constexpr qint64 LongBacklogMs = 10000;

    // What happened to a request.
    enum class Outcome { Started, Waiting, AlreadyWaiting, ToldBusy, Refused };

    // What the scheduler has done since it was made, for the logs and metrics.
    struct Counters
    {
        qint64 linesSent = 0;
        qint64 linesDropped = 0;    // replies cut off: a member who left, was ignored, or a failed send
        qint64 toldBusy = 0;        // "busy" replies sent
        qint64 requestsRefused = 0; // requests neither served nor told (told busy within the minute)
        int linesWaiting = 0;
        int listsRunning = 0;
        int listsWaiting = 0;
    };

    // For the room of one messenger, at its network's rate.
    explicit SendScheduler(MorvexAIMOCX::AIM *messenger, QObject *parent = nullptr);
    // For the rooms of one connection, which share its rate: every call names
    // its room. A member is who the room says he is on the connection (see
    // AIM::memberAddress), so one member in two rooms of an IRC network is one.
    explicit SendScheduler(const Delivery &delivery, QObject *parent = nullptr);
    ~SendScheduler() override;

    // Lines a second and how many may go at once after a quiet while; a rate of
    // 0 sends everything as fast as the messenger takes it. The messenger's own
    // figures are used until this is called.
    void setRate(double linesPerSecond, int burst);
    // The connection's name in the log, "[libera]".
    void setLabel(const QString &label) { m_label = label; }
    // The least time between two list pages to one member.
    void setPageInterval(qint64 milliseconds) { m_pageIntervalMs = milliseconds; }
    // The clock in milliseconds; with it no timer runs, and tests call sendDue().
    void setClockForTesting(std::function<qint64()> now);

    // Below, room is the messenger of the room concerned, always named: a room
    // that is gone gets nothing.

    using RoomText = RoomLines::Text;
    using Waiting = RoomLines::Waiting;
    // The room's lines (an announcement), as one block: they go ahead of every
    // reply, back to back in the order given, never a part of the block alone.
    // What can go at once does, and a failing messenger call is thrown to the caller.
    void postInRoom(const QList<RoomText> &block, MorvexAIMOCX::AIM *room, Waiting waiting);
    // An item reply to a member, sent whole.
    Outcome sendItem(const QString &member, const QString &text, MorvexAIMOCX::AIM *room);
    // A search's matches to a member, as an item reply is sent; what is left
    // of his previous search's (waiting, or the lines not yet sent) goes.
    Outcome sendSearch(const QString &member, const QString &text, MorvexAIMOCX::AIM *room);
    // About how long a list of these pages takes to send at this pace, alone.
    [[nodiscard]] qint64 listDurationMs(const ListPageSet &pages) const;
    // The list pages to a member, one at a time; one list per member.
    Outcome sendList(const QString &member, const ListPageSet &pages, MorvexAIMOCX::AIM *room);

    // True while a list is being sent to the member, or waits for its turn.
    [[nodiscard]] bool hasList(const QString &member, MorvexAIMOCX::AIM *room) const;

    // The member left or is ignored: what waits for him goes, and his list ends.
    void dropMember(const QString &member, const QString &why, MorvexAIMOCX::AIM *room);
    // The member is known by another name now: his replies follow him.
    void renameMember(const QString &oldName, const QString &newName, MorvexAIMOCX::AIM *room);
    // The room is no longer served: its waiting lines go, and a reply being sent
    // there ends after the message (a list page) on its way. roomFinished tells
    // when nothing more is sent through the room's messenger.
    void dropRoom(MorvexAIMOCX::AIM *room);
    // Nothing more is sent; what waits is dropped. For a program that is closing.
    void stop();
    // A room is back on its network after a lost connection: the replies held
    // while it was down go on where they stopped, unless they waited longer than
    // a reply may (LongestItemWaitMs for an item, LongestListWaitMs for a list).
    void resume();

    // Lines the network took from the connection's pace besides the scheduler's
    // (a room joined): what is sent next waits for them too.
    void spend(double lines);

    // Sends what may go now and arms the timer for the rest.
    void sendDue();

    [[nodiscard]] Counters counters() const;
    [[nodiscard]] int mostListsAtOnce() const { return m_lists.mostAtOnce(); }
    [[nodiscard]] bool isThrottled() const { return m_pace.isLimited(); }
    // Lines a second, 0 for no limit.
    [[nodiscard]] double linesPerSecond() const { return m_pace.linesPerSecond(); }

Q_SIGNALS:
    // A room given up with dropRoom has nothing more on its way.
    void roomFinished(MorvexAIMOCX::AIM *room);
    // An item reply (or a busy notice) starts on its way, this long after it was asked for.
    void itemStarted(qint64 waitedMs);

private:
    using Member = MemberQueue;
    using Message = MemberQueue::Message;

    [[nodiscard]] qint64 now() const { return m_now(); }
    [[nodiscard]] static QStringList wireLines(const QString &text);
    [[nodiscard]] Message split(const QString &text, bool isPage) const;
    [[nodiscard]] int linesOf(const QString &text) const;
    [[nodiscard]] int itemLinesWaiting() const;
    // The lines of the pages a list has still to send.
    [[nodiscard]] int listLinesLeft(const MemberQueue::List &list) const;
    [[nodiscard]] qint64 timeForLines(double lines) const { return m_pace.timeFor(lines); }
    [[nodiscard]] qint64 itemWaitMs(const QString &member) const;
    [[nodiscard]] qint64 listWaitMs(const ListPageSet &pages) const;
    // The member whose line goes next, if any.
    [[nodiscard]] std::optional<QString> readyMember(qint64 at) const;

    [[nodiscard]] Recipient recipient(const QString &member, MorvexAIMOCX::AIM *room) const;
    void dropKey(const QString &key, const QString &why);
    void finishRoomsLeft();

    Member &memberEntry(const Recipient &recipient);
    // An item reply (or a search's) queued, or the member told busy.
    Outcome offerReply(const Recipient &recipient, const QString &text, bool search);
    void queueItem(const Recipient &recipient, const QString &text, bool search);
    void tellBusy(const Recipient &recipient, qint64 waitMs);
    void startList(const Recipient &recipient, const ListPageSet &pages);
    void endList(const QString &name, Member &member);
    void startWaitingLists();
    void forgetIfIdle(const QString &member);
    bool sendOne(qint64 at);
    void sendPart(const QString &member);
    // The part found the connection down: it goes first once the room is back.
    void holdPart(const QString &member, const QString &part, bool isPage, qint64 queuedAtMs);
    void armTimer(qint64 at);
    void reportBacklog(qint64 at);

    bool m_lineByLine = false;
    TokenBucket m_pace;
    qint64 m_pageIntervalMs = 1000;

    RoomLines m_roomLines;
    QList<QPointer<MorvexAIMOCX::AIM>> m_roomsLeft; // given up, with a message still on its way
    QHash<QString, Member> m_members;
    MemberTurns m_turns;
    ListAdmission m_lists;
    QHash<QString, qint64> m_toldBusyAtMs;

    QString m_label;
    Counters m_counters;
    qint64 m_backlogReportedAtMs = -BacklogReportEveryMs;
    bool m_stopped = false;
    bool m_sending = false;
    QTimer *m_timer;
    bool m_useTimer = true;
    QElapsedTimer m_clock;
    std::function<qint64()> m_now;
};
