#include "platform/purple/purpleruntime.h"

#include "platform/purple/purpleheaders.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_LOGGING_CATEGORY(lcPurple, "valdrin.network")

// libpurple's start-up adds its own plugin folder and then probes every file
// in it: every protocol, the Perl and Tcl loaders, both TLS plugins and all the
// libraries they link would be mapped into the process, where this program
// needs one protocol and at most one TLS plugin. libpurple reaches this
// function through its symbol table, so the program's own definition is the
// one it calls: the same signals, but no folder to probe. The plugins the
// network needs are then loaded by their paths (loadProtocol below).
extern "C" __attribute__((visibility("default"), used)) void purple_plugins_init(void)
{
    void *handle = purple_plugins_get_handle();
    for (const char *signal : {"plugin-load", "plugin-unload"}) {
        purple_signal_register(handle, signal, purple_marshal_VOID__POINTER, nullptr, 1,
                               purple_value_new(PURPLE_TYPE_SUBTYPE, PURPLE_SUBTYPE_PLUGIN));
    }
}

namespace {

constexpr char UiId[] = "valdrin";

// --- The event loop: libpurple's timers and sockets run on GLib's main context,
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
    const guint id = g_io_add_watch_full(channel, G_PRIORITY_DEFAULT, GIOCondition(glibCondition), dispatchInput,
                                         closure, g_free);
    g_io_channel_unref(channel);
    return id;
}

PurpleEventLoopUiOps eventLoopOps = {g_timeout_add, g_source_remove, addInput, g_source_remove, nullptr,
                                     g_timeout_add_seconds, nullptr, nullptr, nullptr};

// --- Requests: a program with nobody at the keyboard takes the default answer.
// XMPP asks whether to configure a new room; without an answer the room would
// stay locked for everybody else.

void *acceptDefaultAction(const char *, const char *, const char *, int defaultAction, PurpleAccount *,
                          const char *, PurpleConversation *, void *userData, size_t actionCount, va_list actions)
{
    for (size_t index = 0; index < actionCount; ++index) {
        va_arg(actions, const char *); // the label
        const auto callback = va_arg(actions, GCallback);
        if (int(index) == defaultAction && callback) {
            reinterpret_cast<PurpleRequestActionCb>(callback)(userData, defaultAction);
            break;
        }
    }
    return nullptr;
}

PurpleRequestUiOps requestOps = {nullptr, nullptr, acceptDefaultAction, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr};

PurpleCoreUiOps coreOps = {};

std::function<void(const QString &)> &noticeHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

void *notifyMessage(PurpleNotifyMsgType, const char *, const char *primary, const char *secondary)
{
    QStringList parts;
    for (const char *part : {primary, secondary}) {
        if (part && *part)
            parts.append(fromUtf8(part));
    }
    if (!parts.isEmpty() && noticeHandler())
        noticeHandler()(parts.join(u": "_s));
    return nullptr;
}

// --- libpurple's IRC has no answer of its own to a room that refuses the
// program (a wrong or missing key, invite only, full, banned, no such room):
// it only notes the server's line as unrecognised in its debug output. That
// line is the one place the server's reason shows, so it is picked out here.

gboolean debugIsEnabled(PurpleDebugLevel level, const char *category)
{
    return level >= PURPLE_DEBUG_INFO && category && std::strcmp(category, "irc") == 0;
}

void debugPrint(PurpleDebugLevel, const char *category, const char *text)
{
    if (!category || std::strcmp(category, "irc") != 0 || !text)
        return;
    static const QRegularExpression refusedJoin(
        u"^Unrecognized message: :\\S+ (47[1345679]|40[35]) \\S+ (\\S+) :(.*)$"_s);
    const QRegularExpressionMatch match = refusedJoin.match(fromUtf8(text).trimmed());
    if (match.hasMatch() && noticeHandler())
        noticeHandler()(u"Cannot join %1: %2"_s.arg(match.captured(2), match.captured(3)));
}

PurpleDebugUiOps debugOps = [] {
    PurpleDebugUiOps ops = {};
    ops.print = debugPrint;
    ops.is_enabled = debugIsEnabled;
    return ops;
}();

PurpleNotifyUiOps notifyOps = [] {
    PurpleNotifyUiOps ops = {};
    ops.notify_message = notifyMessage;
    return ops;
}();

// --- Plugins.

QString pluginFolder()
{
    return QStringLiteral(VALDRIN_PURPLE_PLUGIN_DIR);
}

// The file of a protocol's plugin. libpurple's own protocols do not all follow
// the "prpl-NAME is libNAME.so" rule; plugins of others mostly do.
QString protocolFile(const QString &protocolId)
{
    static const QHash<QString, QString> files{{u"prpl-jabber"_s, u"libxmpp.so"_s},
                                               {u"prpl-meanwhile"_s, u"libsametime.so"_s}};
    if (const auto found = files.constFind(protocolId); found != files.cend())
        return *found;
    const QString name = protocolId.startsWith(u"prpl-") ? protocolId.mid(5) : protocolId;
    return u"lib%1.so"_s.arg(name);
}

// Probes one plugin file; libpurple loads a protocol plugin as it registers it.
PurplePlugin *probePlugin(const QString &fileName)
{
    const QString path = QDir(pluginFolder()).filePath(fileName);
    if (fileName.contains(u'/') || !QFileInfo(path).isFile())
        return nullptr;
    PurplePlugin *plugin = purple_plugin_probe(QFile::encodeName(path).constData());
    // Registering queued the plugin; this loads what the queue holds and adds
    // protocols to libpurple's list. No folder is searched.
    purple_plugins_probe(G_MODULE_SUFFIX);
    return plugin;
}

QString loadTls()
{
    if (purple_ssl_get_ops())
        return {};
    // One TLS plugin: NSS, the one this system's libpurple ships.
    PurplePlugin *plugin = probePlugin(u"ssl-nss.so"_s);
    if (!plugin || !purple_plugin_load(plugin) || !purple_ssl_get_ops())
        return u"libpurple's TLS plugin (ssl-nss.so in %1) could not be loaded."_s.arg(pluginFolder());
    return {};
}

} // namespace

namespace PurpleRuntime {

QString start(const QString &userFolder)
{
    static QString outcome = u"not started"_s;
    static bool started = false;
    if (started)
        return outcome;
    started = true;

    if (!QDir().mkpath(userFolder))
        return outcome = u"Could not create libpurple's folder %1."_s.arg(QDir::toNativeSeparators(userFolder));
    purple_util_set_user_dir(QFile::encodeName(QDir::toNativeSeparators(userFolder)).constData());
    purple_debug_set_enabled(FALSE);
    purple_core_set_ui_ops(&coreOps);
    purple_eventloop_set_ui_ops(&eventLoopOps);
    purple_request_set_ui_ops(&requestOps);
    purple_notify_set_ui_ops(&notifyOps);
    purple_debug_set_ui_ops(&debugOps);
    if (!purple_core_init(UiId))
        return outcome = u"libpurple did not start."_s;
    purple_set_blist(purple_blist_new());
    purple_blist_load();
    purple_prefs_load();
    purple_prefs_set_bool("/purple/logging/log_ims", FALSE);
    purple_prefs_set_bool("/purple/logging/log_chats", FALSE);
    purple_prefs_set_bool("/purple/logging/log_system", FALSE);

    // Where Qt's loop does not dispatch GLib's main context, drive it from a timer.
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        auto *pump = new QTimer(QCoreApplication::instance());
        QObject::connect(pump, &QTimer::timeout, [] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
        });
        pump->start(10);
    }
    return outcome = QString();
}

QString loadProtocol(const QString &protocolId, bool withTls)
{
    const QByteArray id = protocolId.toUtf8();
    if (!purple_find_prpl(id.constData())) {
        probePlugin(protocolFile(protocolId));
        if (!purple_find_prpl(id.constData()))
            return u"unknown protocol \"%1\"; this machine offers: %2"_s.arg(protocolId,
                                                                             installedProtocols().join(u", "_s));
    }
    if (withTls)
        return loadTls();
    return {};
}

void setNoticeHandler(std::function<void(const QString &)> handler)
{
    noticeHandler() = std::move(handler);
}

QStringList installedProtocols()
{
    purple_plugins_add_search_path(QFile::encodeName(pluginFolder()).constData());
    purple_plugins_probe(G_MODULE_SUFFIX);
    QStringList names;
    for (GList *item = purple_plugins_get_protocols(); item; item = item->next) {
        auto *plugin = static_cast<PurplePlugin *>(item->data);
        names.append(u"%1 (%2)"_s.arg(fromUtf8(purple_plugin_get_id(plugin)), fromUtf8(purple_plugin_get_name(plugin))));
    }
    return names;
}

} // namespace PurpleRuntime
