#include "messengers/purple/purpleparts.h"
#include "messengers/purple/purpleruntime.h"

#include <QLoggingCategory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

// The event loop: libpurple's timers and sockets run on GLib's main context,
// which Qt's event loop dispatches on Linux.

struct InputClosure
{
    PurpleInputFunction function;
    gpointer data;
};

gboolean dispatchInput(GIOChannel *source, GIOCondition condition, gpointer data)
{
    const auto *closure = static_cast<InputClosure *>(data);
    int purpleCondition = 0;
    if (condition & (G_IO_IN | G_IO_HUP | G_IO_ERR))
        purpleCondition |= PURPLE_INPUT_READ;
    if (condition & (G_IO_OUT | G_IO_HUP | G_IO_ERR | G_IO_NVAL))
        purpleCondition |= PURPLE_INPUT_WRITE;
    closure->function(closure->data, g_io_channel_unix_get_fd(source), PurpleInputCondition(purpleCondition));
    return TRUE;
}

// Chat lines are small and answered at once: without this, the kernel holds a
// reply back until the peer acknowledges the last one (tens of milliseconds).
void sendWithoutDelay(int fd)
{
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

guint addInput(gint fd, PurpleInputCondition condition, PurpleInputFunction function, gpointer data)
{
    sendWithoutDelay(fd);
    auto *closure = g_new0(InputClosure, 1);
    closure->function = function;
    closure->data = data;
    int glibCondition = 0;
    if (condition & PURPLE_INPUT_READ)
        glibCondition |= G_IO_IN | G_IO_HUP | G_IO_ERR;
    if (condition & PURPLE_INPUT_WRITE)
        glibCondition |= G_IO_OUT | G_IO_HUP | G_IO_ERR | G_IO_NVAL;
    GIOChannel *channel = g_io_channel_unix_new(fd);
    const guint id =
        g_io_add_watch_full(channel, G_PRIORITY_DEFAULT, GIOCondition(glibCondition), dispatchInput, closure, g_free);
    g_io_channel_unref(channel);
    return id;
}

// libpurple's timers call their function through a closure of the program's,
// so that no timer of theirs carries a protocol's own data: the one GLib timer
// that does is the IRC send queue's, which handOverIrcLines() finds by it.
struct TimeoutClosure
{
    GSourceFunc function;
    gpointer data;
};

gboolean dispatchTimeout(gpointer data)
{
    const auto *closure = static_cast<TimeoutClosure *>(data);
    return closure->function(closure->data);
}

TimeoutClosure *timeoutClosure(GSourceFunc function, gpointer data)
{
    auto *closure = g_new0(TimeoutClosure, 1);
    closure->function = function;
    closure->data = data;
    return closure;
}

guint addTimeout(guint milliseconds, GSourceFunc function, gpointer data)
{
    return g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, dispatchTimeout, timeoutClosure(function, data),
                              g_free);
}

guint addTimeoutSeconds(guint seconds, GSourceFunc function, gpointer data)
{
    return g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, seconds, dispatchTimeout, timeoutClosure(function, data),
                                      g_free);
}

PurpleEventLoopUiOps eventLoopOps = {addTimeout,        g_source_remove, addInput, g_source_remove, nullptr,
                                     addTimeoutSeconds, nullptr,         nullptr,  nullptr};

bool ircHandOver = true;

} // namespace

// libpurple's IRC queues every line it sends and writes the queue out on a
// timer of its own, once a second: a reply would wait up to a second for it,
// whatever the program's pacing says. The program paces its lines itself, so
// the queue is written out as soon as the event loop is back. (The queue
// still keeps libpurple's own pacing, for a file that asks for it.)
void PurpleRuntime::Parts::handOverIrcLines(PurpleConnection *gc)
{
    if (!ircHandOver || !gc || !gc->proto_data)
        return;
    // The queue's timer is the one GLib timeout whose data is the IRC connection.
    if (GSource *queue = g_main_context_find_source_by_funcs_user_data(nullptr, &g_timeout_funcs, gc->proto_data))
        g_source_set_ready_time(queue, 0);
}

void PurpleRuntime::setIrcHandOver(bool on)
{
    ircHandOver = on;
}

PurpleEventLoopUiOps *PurpleRuntime::Parts::eventLoopOps()
{
    return &::eventLoopOps;
}
