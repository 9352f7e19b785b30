#pragma once

#include "support/ircmember.h"

#include <QElapsedTimer>
#include <QList>
#include <QTest>

#include <algorithm>

// The median item reply latency a member sees in an IRC room, in ms (-1 when a
// reply did not come): `/NICK send N` for items spread over the catalogue, one
// at a time, at a person's pace inside the flood limits.
inline double medianItemLatencyMs(IrcMember &member, int samples, int items, int stride)
{
    QList<qint64> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        member.clear();
        QElapsedTimer clock;
        clock.start();
        const int item = (sample * stride) % items;
        member.say(QStringLiteral("/linkdesk send %1").arg(item));
        const QString expected = QStringLiteral("Item %1:").arg(item);
        if (!QTest::qWaitFor(
                [&] {
                    const QList<IrcMember::Message> got = member.privateMessages();
                    return std::any_of(got.cbegin(), got.cend(),
                                       [&](const IrcMember::Message &line) { return line.text.startsWith(expected); });
                },
                20000))
            return -1;
        latencies.append(clock.nsecsElapsed() / 1000);
        QTest::qWait(3100);
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies.isEmpty() ? -1 : double(latencies[latencies.size() / 2]) / 1000.0;
}
