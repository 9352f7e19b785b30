#pragma once

#include <QTimer>

#include <algorithm>

// Tries something again after growing waits: the first wait, doubled after
// every try up to the longest, and the first again after a success. Signing
// on again and joining the room again both wait this way.
class Backoff final
{
public:
    Backoff(int firstMs, int longestMs) : m_firstMs(firstMs), m_longestMs(longestMs), m_nextMs(firstMs)
    {
        m_timer.setSingleShot(true);
    }

    // What to do when a wait is over.
    template <typename Function> void onTry(QObject *context, Function function)
    {
        QObject::connect(&m_timer, &QTimer::timeout, context, std::move(function));
    }

    // Starts the next wait, unless one is running; the wait started, or 0.
    // The extra time lengthens this wait alone.
    int schedule(int extraMs = 0)
    {
        if (m_timer.isActive())
            return 0;
        const int wait = m_nextMs + extraMs;
        m_timer.start(wait);
        m_nextMs = std::min(m_nextMs * 2, m_longestMs);
        return wait;
    }
    void stop() { m_timer.stop(); }
    // It worked: the next trouble starts with the first wait again.
    void succeeded() { m_nextMs = m_firstMs; }
    void setFirstWait(int milliseconds) { m_firstMs = m_nextMs = std::min(milliseconds, m_longestMs); }

    [[nodiscard]] bool isWaiting() const { return m_timer.isActive(); }
    // What is left of the running wait, or the wait the next schedule() starts.
    [[nodiscard]] int msUntilTry() const { return m_timer.isActive() ? m_timer.remainingTime() : m_nextMs; }

private:
    int m_firstMs;
    int m_longestMs;
    int m_nextMs;
    QTimer m_timer;
};
