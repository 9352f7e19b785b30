#pragma once

#include "platform/messenger.h"
#include "serving/listpages.h"
#include "serving/recipient.h"

#include <QPointer>
#include <QStringList>

#include <deque>
#include <numeric>
#include <optional>

// What waits to be sent to one member of a connection: his item replies (and
// busy notices) in the order he asked, the message on its way part by part,
// and his list while it is being sent. Nothing waiting, nothing on its way and
// no list: the member is idle and forgotten.
struct MemberQueue
{
    // A whole reply waiting for its turn: when it was asked for, and the wire
    // lines it takes (counted once, as it is queued).
    struct Reply
    {
        QString text;
        qint64 queuedAtMs = 0;
        int lines = 0;
        bool search = false; // a search's matches: the member's next search replaces them
    };
    // The message on its way: its lines on a line-by-line network, else the whole text.
    struct Message
    {
        QStringList parts;
        int next = 0;
        bool isPage = false;
        qint64 queuedAtMs = 0; // an item reply: when it was asked for
        bool search = false;   // a search's matches

        [[nodiscard]] int partsLeft() const { return int(parts.size()) - next; }
    };
    // The list being sent: its pages, the next one, and when that one may go.
    struct List
    {
        ListPageSet pages;
        int nextPage = 0;
        qint64 nextPageAtMs = 0;

        [[nodiscard]] bool allSent() const { return nextPage >= pages.size(); }
        [[nodiscard]] int pagesLeft() const { return std::max(0, pages.size() - nextPage); }
    };

    // Who he is, and the room he asked in last, which reaches him.
    Recipient to;
    std::deque<Reply> replies;
    std::optional<Message> sending;
    std::optional<List> list;
    // His next line found the connection down: nothing more goes to him until
    // the room is back (SendScheduler::resume).
    bool held = false;

    [[nodiscard]] int replyLines() const
    {
        return std::accumulate(replies.cbegin(), replies.cend(), 0,
                               [](int lines, const Reply &reply) { return lines + reply.lines; });
    }
    [[nodiscard]] bool idle() const { return !sending && replies.empty() && !list; }
    // True when his next line is an item reply (items) or a list page (not
    // items), and may go at the moment at.
    [[nodiscard]] bool ready(bool items, qint64 at) const
    {
        if (held)
            return false;
        if (sending)
            return sending->isPage != items;
        if (items)
            return !replies.empty();
        return replies.empty() && list && !list->allSent() && at >= list->nextPageAtMs;
    }
};
