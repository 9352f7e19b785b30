#pragma once

#include "serving/listpages.h"

#include <QString>

// The program-wide values, alive for the whole run. The link server builds the
// list pages and loads and saves the server message; the responder reads both.
namespace ValdrinBas {

// The list pages sent for "send list", replaced as a whole by every build.
extern ListPageSet ListPages;

// The operator's server message, appended to every item reply; empty when none is set.
extern QString ServerMessage;

} // namespace ValdrinBas
