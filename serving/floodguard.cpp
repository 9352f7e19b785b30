#include "serving/floodguard.h"

#include <algorithm>

FloodGuard::FloodGuard() : FloodGuard(Limits{}) {}

FloodGuard::FloodGuard(Limits limits) : m_limits(limits)
{
    m_clock.start();
    m_now = [this] { return m_clock.elapsed(); };
    m_roomTokens = m_limits.roomBurst;
    m_roomUpdatedMs = m_now();
}

void FloodGuard::forgetOld(Member &member, qint64 now) const
{
    const auto stale = std::find_if(member.recentMs.cbegin(), member.recentMs.cend(),
                                    [&](qint64 at) { return now - at < m_limits.longWindowMs; });
    member.recentMs.erase(member.recentMs.cbegin(), stale);
}

QString FloodGuard::keyOf(const QString &member)
{
    // Names differ in case and blanks on some networks; one person, one record.
    QString key = member.toCaseFolded();
    key.remove(u' ');
    return key;
}

bool FloodGuard::isMuted(const QString &member) const
{
    const auto found = m_members.constFind(keyOf(member));
    return found != m_members.cend() && m_now() < found->mutedUntilMs;
}

int FloodGuard::mutedCount() const
{
    const qint64 now = m_now();
    return int(std::count_if(m_members.cbegin(), m_members.cend(),
                             [now](const Member &member) { return now < member.mutedUntilMs; }));
}

bool FloodGuard::admit(const QString &member)
{
    const qint64 now = m_now();
    const QString key = keyOf(member);

    auto found = m_members.find(key);
    if (found == m_members.end()) {
        if (m_members.size() >= m_limits.trackedMembers)
            forgetIdleMembers(now);
        found = m_members.insert(key, Member{});
    }
    Member &record = *found;
    if (now < record.mutedUntilMs)
        return false;
    forgetOld(record, now);
    const auto inShortWindow = std::count_if(record.recentMs.cbegin(), record.recentMs.cend(),
                                             [&](qint64 at) { return now - at < m_limits.shortWindowMs; });
    if (inShortWindow >= m_limits.shortBurst || record.recentMs.size() >= m_limits.sustained) {
        record.mutedUntilMs = now + m_limits.muteMs;
        record.recentMs.clear();
        return false;
    }

    const qint64 elapsed = std::max<qint64>(0, now - m_roomUpdatedMs);
    m_roomTokens = std::min(double(m_limits.roomBurst), m_roomTokens + double(elapsed) / double(m_limits.roomRefillMs));
    m_roomUpdatedMs = now;
    if (m_roomTokens < 1)
        return false;
    m_roomTokens -= 1;
    record.recentMs.append(now);
    return true;
}

void FloodGuard::forgetIdleMembers(qint64 now)
{
    // A member with no command in the last long window and no mute is no
    // different from one never seen.
    for (auto it = m_members.begin(); it != m_members.end();) {
        forgetOld(*it, now);
        if (it->recentMs.isEmpty() && now >= it->mutedUntilMs)
            it = m_members.erase(it);
        else
            ++it;
    }
    // Under a flood of new names every one may still be busy: then the oldest
    // memories go, so the table never grows past its bound.
    while (m_members.size() >= m_limits.trackedMembers)
        m_members.erase(m_members.begin());
}
