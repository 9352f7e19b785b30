#pragma once

#include <algorithm>

#include <QtGlobal>

// The pace of one connection: lines a second, and how many may go at once
// after a quiet while. Each line takes a token; tokens come back at the rate,
// up to the burst. At 0 lines a second there is no limit.
class TokenBucket final
{
public:
    // A new pace, full at the moment at.
    void setRate(double linesPerSecond, int burst, qint64 at);
    // Tokens come back from the moment at (a new clock).
    void restart(qint64 at) { m_refilledAtMs = at; }

    [[nodiscard]] bool isLimited() const { return m_linesPerSecond > 0; }
    [[nodiscard]] double linesPerSecond() const { return m_linesPerSecond; }
    [[nodiscard]] double tokens() const { return m_tokens; }

    // Adds what came back up to the moment at.
    void refill(qint64 at);
    // True when a line may go now (after refill).
    [[nodiscard]] bool mayGo() const { return !isLimited() || m_tokens >= 1; }
    // Lines sent.
    void take(double lines);
    // Lines taken that did not go out after all (the connection was down).
    void giveBack(double lines)
    {
        if (isLimited())
            m_tokens = std::min(m_tokens + lines, m_burst);
    }
    // Lines the network took besides the program's own (a room joined): at most
    // a minute's worth, so fifty joins at once are not paid for by silence.
    void spend(double lines, qint64 at);

    // How long the lines take at the pace.
    [[nodiscard]] qint64 timeFor(double lines) const;
    // How long until the next line may go, from the moment at (after refill).
    [[nodiscard]] qint64 untilNextLine() const;

private:
    double m_linesPerSecond = 0;
    double m_burst = 1;
    double m_tokens = 1;
    qint64 m_refilledAtMs = 0;
};
