#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>
#include <vector>

namespace MorvexAIMOCX {
class AIM;
}

// The rooms' own lines of one connection (opening lines, announcements, the
// stop line) while they wait for the connection's pace, and when each room's
// announcement comes round. They go ahead of the members' replies, but never
// take all of the pace while a member waits.
class RoomLines final
{
public:
    // A line made as it leaves, so a line that names the program's nick names
    // it as it is then, not as it was when queued.
    using Text = std::function<QString()>;
    // What a room's new block does to its block still waiting.
    enum class Waiting {
        Keep,   // the waiting one goes out whole, and the new one is not sent (the next announcement)
        Replace // the new one goes instead of what is left of the waiting one (serving switched on or off)
    };
    struct Line
    {
        QPointer<MorvexAIMOCX::AIM> room;
        Text text;
    };

    // The rooms' lines go ahead of the replies, but at most this many in a row
    // while a member waits: the rooms take at most this share of the pace then.
    static constexpr int InARow = 3;
    // Lines waiting at most: a room line is an announcement, never a reply.
    // Fifty rooms of a connection joined at once may each have four waiting.
    static constexpr std::size_t WaitingAtMost = 256;
    // The share of a connection's pace its rooms' announcements take on average.
    // The rest is the members', and headroom: a server passes its figure in lines
    // only for short lines (ngircd also counts bytes, about 256 a second), so a
    // connection sent at its full pace for long fills the server's own queue,
    // where nothing is fair and every reply waits.
    static constexpr double AnnouncementShare = 0.6;

    // Whether a new block of the room's may be queued: what it replaces is
    // dropped; false when the room's waiting block is kept instead, or there
    // is no room for it.
    [[nodiscard]] bool makeRoomFor(MorvexAIMOCX::AIM *room, qsizetype lines, Waiting waiting);
    void append(MorvexAIMOCX::AIM *room, Text text) { m_lines.push_back({room, std::move(text)}); }

    // Whether a room's line goes next, with a member waiting or not.
    [[nodiscard]] bool goesNext(bool memberWaits) const
    {
        return !m_lines.empty() && (!memberWaits || m_inARow < InARow);
    }
    // The next line, counted as one more in a row.
    [[nodiscard]] Line take();
    // A room's line went at once, without waiting.
    void sentAtOnce() { ++m_inARow; }
    // A member's line went: the rooms' run is over.
    void memberServed() { m_inARow = 0; }

    void dropRoom(MorvexAIMOCX::AIM *room);
    void clear() { m_lines.clear(); }
    [[nodiscard]] bool isEmpty() const { return m_lines.empty(); }
    [[nodiscard]] int size() const { return int(m_lines.size()); }

    // How often each room of a connection is announced: every usualMs, unless
    // the rooms' lines would take more than their share of the pace (then less
    // often, in whole seconds, so announcements never pile up ahead of the
    // members' replies). A rate of 0 is no limit.
    [[nodiscard]] static int announceEveryMs(int usualMs, double linesPerSecond, int rooms, int linesPerRoom);
    // When a room that starts serving is first announced, in ms: in the widest
    // gap between its connection's other rooms' next announcements (the time
    // left on each), not at once with them; -1 for a room alone.
    [[nodiscard]] static int announcementSlot(std::vector<int> othersLeftMs, int everyMs);

private:
    std::deque<Line> m_lines;
    int m_inARow = 0;
};
