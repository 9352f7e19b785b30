#pragma once

#include "serving/listpages.h"

#include <QString>

// The values every room's serving reads: the list pages, the server message
// and the catalogue's web address. The link server, which owns the catalogue, holds them and passes
// them on; nothing else keeps them.
struct ValdrinBas
{
    // The list pages sent for "send list", replaced as a whole by every build.
    ListPageSet ListPages;
    // The operator's server message, appended to every item reply; empty when none is set.
    QString ServerMessage;
    // Where members find the catalogue on the web; the opening lines and the
    // advertisement name it. Empty when the operator set none.
    QString CatalogueAddress;
};
