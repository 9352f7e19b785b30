#pragma once

#include <QString>
#include <QStringList>

// The program-wide values, alive for the whole run.
namespace ValdrinBas {

// The list pages sent for "send list", replaced as a whole by every build.
extern QStringList ListPages;

// The operator's server message, appended to every item reply; empty when none is set.
extern QString ServerMessage;

} // namespace ValdrinBas
