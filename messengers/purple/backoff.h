#pragma once

#include <QTimer>

#include <algorithm>

// Tries something again after growing waits: the first wait, doubled after
// every try up to the longest, and the first again once a success has lasted
// (a server that ends the connection right after each sign-on, such as one
// over its limit of connections from an address, is not asked again every
// second). Signing on again and joining the room again both wait this way.
class Backoff final
{
public:
    // A success counts once it has lasted this long.
    static constexpr int LastingMs = 60000;

    Backoff(int firstMs, int longestMs) : m_firstMs(firstMs), m_longestMs(longestMs), m_nextMs(firstMs)
    {
        m_timer.setSingleShot(true);
        m_lasting.setSingleShot(true);
        QObject::connect(&m_lasting, &QTimer::timeout, &m_lasting, [this] { m_nextMs = m_firstMs; });
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
        m_lasting.stop(); // the success before did not last
        const int wait = m_nextMs + extraMs;
        m_timer.start(wait);
        m_nextMs = std::min(m_nextMs * 2, m_longestMs);
        return wait;
    }
    void stop()
    {
        m_timer.stop();
        m_lasting.stop();
    }
    // Nothing failed: the next trouble starts with the first wait.
    void reset()
    {
        stop();
        m_nextMs = m_firstMs;
    }
    // It worked: once that has lasted, the next trouble starts with the first wait again.
    void succeeded() { m_lasting.start(m_lastingMs); }
    void setFirstWait(int milliseconds) { m_firstMs = m_nextMs = std::min(milliseconds, m_longestMs); }
    void setLasting(int milliseconds) { m_lastingMs = milliseconds; }

    [[nodiscard]] bool isWaiting() const { return m_timer.isActive(); }
    // What is left of the running wait, or the wait the next schedule() starts.
    [[nodiscard]] int msUntilTry() const { return m_timer.isActive() ? m_timer.remainingTime() : m_nextMs; }

private:
    int m_firstMs;
    int m_longestMs;
    int m_nextMs;
    int m_lastingMs = LastingMs;
    QTimer m_timer;
    QTimer m_lasting;
};
