#pragma once

#include <QString>

class QObject;

// Tells systemd how the service is doing, when it runs as a Type=notify unit:
// ready once a room is served, alive from the event loop (the watchdog), and
// stopping. Outside systemd every call does nothing.
namespace ServiceManager {

// Starts the watchdog's pings from the event loop, when the unit asks for them.
void startWatchdog(QObject *context);
void ready(const QString &status);
void status(const QString &status);
void stopping();

} // namespace ServiceManager
