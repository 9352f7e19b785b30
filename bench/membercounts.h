#pragma once

// What a member of the measured room has received from a server whose
// catalogue holds items named "Item N" with web addresses.

#include "support/ircmember.h"

#include <QString>

// One row of a list page.
inline int listRowsReceived(const IrcMember &member)
{
    int rows = 0;
    for (const IrcMember::Message &line : member.privateMessages())
        rows += line.text.contains(QStringLiteral(") Item ")) ? 1 : 0;
    return rows;
}

// One item sent as a link.
inline int itemsReceived(const IrcMember &member)
{
    int items = 0;
    for (const IrcMember::Message &line : member.privateMessages())
        items += line.text.startsWith(QStringLiteral("Item ")) && line.text.contains(QStringLiteral("<http")) ? 1 : 0;
    return items;
}
