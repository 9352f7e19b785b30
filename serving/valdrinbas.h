#pragma once

#include "serving/listpages.h"

#include <QString>

// The two values every room's serving reads: the list pages and the server
// message. The link server, which owns the catalogue, holds them and passes
// them on; nothing else keeps them.
struct ValdrinBas
{
    // The list pages sent for "send list", replaced as a whole by every build.
    ListPageSet ListPages;
    // The operator's server message, appended to every item reply; empty when none is set.
    QString ServerMessage;
};
