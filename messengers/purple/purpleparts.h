#pragma once

#include "messengers/purple/purpleheaders.h"

#include <QString>

// The parts of libpurple's runtime, a file each; PurpleRuntime::start puts
// them together. Only this folder includes this header.
namespace PurpleRuntime::Parts {

// purpleeventloop.cpp: libpurple's timers and sockets, on GLib's main context.
[[nodiscard]] PurpleEventLoopUiOps *eventLoopOps();
// Writes out the lines libpurple's IRC holds for the connection as soon as the
// event loop is back, not at the next tick of its once-a-second queue.
void handOverIrcLines(PurpleConnection *gc);

// purplequestions.cpp: deliberate answers to libpurple's questions.
[[nodiscard]] PurpleRequestUiOps *requestOps();

// purplecertificates.cpp: every server certificate checked by the program.
// libpurple keeps no certificate of a peer for next time.
void takeOverCertificateVerification(const QString &userFolder);

// purplenotices.cpp: what libpurple tells its user goes to the notice handler.
[[nodiscard]] PurpleNotifyUiOps *notifyOps();
void tell(const QString &text);

} // namespace PurpleRuntime::Parts
