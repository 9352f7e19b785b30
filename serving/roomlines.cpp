#include "serving/roomlines.h"

#include "platform/messenger.h"

#include <algorithm>
#include <cmath>

bool RoomLines::makeRoomFor(MorvexAIMOCX::AIM *room, qsizetype lines, Waiting waiting)
{
    const auto ofThisRoom = [room](const Line &line) { return line.room == room; };
    if (std::any_of(m_lines.cbegin(), m_lines.cend(), ofThisRoom)) {
        // An announcement that has not gone out yet is not bunched with the
        // next, nor broken up by it.
        if (waiting == Waiting::Keep)
            return false;
        std::erase_if(m_lines, ofThisRoom);
    }
    return m_lines.size() + std::size_t(lines) <= WaitingAtMost;
}

RoomLines::Line RoomLines::take()
{
    Line line = std::move(m_lines.front());
    m_lines.pop_front();
    ++m_inARow;
    return line;
}

void RoomLines::dropRoom(MorvexAIMOCX::AIM *room)
{
    std::erase_if(m_lines, [room](const Line &line) { return line.room == room; });
}

int RoomLines::announceEveryMs(int usualMs, double linesPerSecond, int rooms, int linesPerRoom)
{
    const double linesPerMinute = linesPerSecond * AnnouncementShare * 60;
    const int needed = rooms * linesPerRoom;
    if (linesPerSecond <= 0 || needed <= linesPerMinute)
        return usualMs;
    return int(std::ceil(needed * 60000.0 / linesPerMinute / 1000.0)) * 1000;
}

int RoomLines::announcementSlot(std::vector<int> othersLeftMs, int everyMs)
{
    if (othersLeftMs.empty())
        return -1;
    std::vector<int> ticks{0, everyMs};
    // A coarse timer may say a little more than its interval.
    for (const int left : othersLeftMs)
        ticks.push_back(std::clamp(left, 0, everyMs));
    std::sort(ticks.begin(), ticks.end());
    int widest = 0;
    int first = everyMs;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        if (ticks[i] - ticks[i - 1] > widest) {
            widest = ticks[i] - ticks[i - 1];
            first = ticks[i - 1] + widest / 2;
        }
    }
    return std::max(first, 1000);
}
