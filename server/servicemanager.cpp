#include "server/servicemanager.h"

#include <QByteArray>
#include <QTimer>

#include <algorithm>

#ifdef VALDRIN_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace ServiceManager {

#ifdef VALDRIN_HAVE_SYSTEMD

void startWatchdog(QObject *context)
{
    uint64_t intervalUs = 0;
    if (sd_watchdog_enabled(0, &intervalUs) <= 0 || intervalUs == 0)
        return;
    // Twice in every interval, from the event loop: a loop that hangs stops them.
    auto *pings = new QTimer(context);
    QObject::connect(pings, &QTimer::timeout, [] { sd_notify(0, "WATCHDOG=1"); });
    pings->start(int(std::max<uint64_t>(intervalUs / 2000, 100)));
}

void ready(const QString &text)
{
    const QByteArray line = "READY=1\nSTATUS=" + text.toUtf8();
    sd_notify(0, line.constData());
}

void status(const QString &text)
{
    const QByteArray line = "STATUS=" + text.toUtf8();
    sd_notify(0, line.constData());
}

void stopping()
{
    sd_notify(0, "STOPPING=1");
}

#else

void startWatchdog(QObject *) {}
void ready(const QString &) {}
void status(const QString &) {}
void stopping() {}

#endif

} // namespace ServiceManager
