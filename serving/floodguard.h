#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <functional>

// Decides whether a member's command is answered. A person typing commands is
// always answered (a dozen a minute, and more); a member who sends commands
// faster than anyone types is ignored for a while, and the room as a whole
// cannot ask for more than the program can sensibly send.
class FloodGuard final
{
public:
    struct Limits
    {
        int memberBurst = 20;           // commands a member may send at once
        qint64 memberRefillMs = 3000;   // one more command allowed per this time
        qint64 muteMs = 60000;          // how long a flooding member is ignored
        int roomBurst = 2000;           // commands the whole room may send at once
        qint64 roomRefillMs = 50;       // one more command for the room per this time
        int trackedMembers = 4096;      // members remembered at most
    };

    FloodGuard();
    explicit FloodGuard(Limits limits);

    // True when the member's command is to be answered; counts it.
    [[nodiscard]] bool admit(const QString &member);
    [[nodiscard]] int trackedMemberCount() const { return int(m_members.size()); }

    // The clock, in milliseconds; tests may move it on by hand.
    void setClockForTesting(std::function<qint64()> now) { m_now = std::move(now); }

private:
    struct Bucket
    {
        double tokens = 0;
        qint64 updatedMs = 0;
        qint64 mutedUntilMs = 0;
    };

    static void refill(Bucket &bucket, qint64 now, double burst, qint64 refillMs);
    void forgetIdleMembers(qint64 now);

    Limits m_limits;
    QHash<QString, Bucket> m_members;
    Bucket m_room;
    QElapsedTimer m_clock;
    std::function<qint64()> m_now;
};
