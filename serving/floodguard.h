#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

// Decides whether a member's command is answered. Only what no person does is
// refused: more than a dozen commands within ten seconds, or more than one a
// second kept up for a minute. Such a member is ignored for a minute, without a
// word in the room. The room as a whole cannot ask for more than the program
// can sensibly send, whatever names a flooder makes up.
class FloodGuard final
{
public:
    struct Limits
    {
        int shortBurst = 12; // commands a member may send within shortWindowMs
        qint64 shortWindowMs = 10000;
        int sustained = 60; // commands a member may send within longWindowMs
        qint64 longWindowMs = 60000;
        qint64 muteMs = 60000;     // how long a flooding member is ignored
        int roomBurst = 2000;      // commands the whole room may send at once
        qint64 roomRefillMs = 50;  // one more command for the room per this time
        int trackedMembers = 4096; // members remembered at most
    };

    FloodGuard();
    explicit FloodGuard(Limits limits);

    // True when the member's command is to be answered; counts it.
    [[nodiscard]] bool admit(const QString &member);
    // True while the member is ignored for flooding.
    [[nodiscard]] bool isMuted(const QString &member) const;
    [[nodiscard]] int trackedMemberCount() const { return int(m_members.size()); }
    // Members ignored for flooding now.
    [[nodiscard]] int mutedCount() const;

    // The clock, in milliseconds; tests may move it on by hand.
    void setClockForTesting(std::function<qint64()> now) { m_now = std::move(now); }

private:
    struct Member
    {
        QList<qint64> recentMs; // when the answered commands of the last long window came
        qint64 mutedUntilMs = 0;
    };

    [[nodiscard]] static QString keyOf(const QString &member);
    void forgetOld(Member &member, qint64 now) const;
    void forgetIdleMembers(qint64 now);

    Limits m_limits;
    QHash<QString, Member> m_members;
    double m_roomTokens = 0;
    qint64 m_roomUpdatedMs = 0;
    QElapsedTimer m_clock;
    std::function<qint64()> m_now;
};
