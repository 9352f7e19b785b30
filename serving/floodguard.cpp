#include "serving/floodguard.h"

#include <algorithm>

FloodGuard::FloodGuard() : FloodGuard(Limits{}) {}

FloodGuard::FloodGuard(Limits limits) : m_limits(limits)
{
    m_clock.start();
    m_now = [this] { return m_clock.elapsed(); };
    m_room = {double(m_limits.roomBurst), m_now(), 0};
}

void FloodGuard::refill(Bucket &bucket, qint64 now, double burst, qint64 refillMs)
{
    const qint64 elapsed = std::max<qint64>(0, now - bucket.updatedMs);
    bucket.tokens = std::min(burst, bucket.tokens + double(elapsed) / double(refillMs));
    bucket.updatedMs = now;
}

bool FloodGuard::admit(const QString &member)
{
    const qint64 now = m_now();
    // Names differ in case and blanks on some networks; one person, one bucket.
    QString key = member.toCaseFolded();
    key.remove(u' ');

    auto found = m_members.find(key);
    if (found == m_members.end()) {
        if (m_members.size() >= m_limits.trackedMembers)
            forgetIdleMembers(now);
        found = m_members.insert(key, Bucket{double(m_limits.memberBurst), now, 0});
    }
    Bucket &bucket = *found;
    if (now < bucket.mutedUntilMs)
        return false;
    refill(bucket, now, m_limits.memberBurst, m_limits.memberRefillMs);
    if (bucket.tokens < 1) {
        bucket.mutedUntilMs = now + m_limits.muteMs;
        return false;
    }
    refill(m_room, now, m_limits.roomBurst, m_limits.roomRefillMs);
    if (m_room.tokens < 1)
        return false;
    bucket.tokens -= 1;
    m_room.tokens -= 1;
    return true;
}

void FloodGuard::forgetIdleMembers(qint64 now)
{
    // A member whose bucket has filled up again and who is not muted is no
    // different from one never seen.
    const double burst = m_limits.memberBurst;
    const qint64 refillMs = m_limits.memberRefillMs;
    for (auto it = m_members.begin(); it != m_members.end();) {
        refill(*it, now, burst, refillMs);
        if (it->tokens >= burst && now >= it->mutedUntilMs)
            it = m_members.erase(it);
        else
            ++it;
    }
    // Under a flood of new names every one may still be busy: then the oldest
    // memories go, so the table never grows past its bound.
    while (m_members.size() >= m_limits.trackedMembers)
        m_members.erase(m_members.begin());
}
