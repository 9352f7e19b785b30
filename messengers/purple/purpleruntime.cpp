#include "messengers/purple/purpleruntime.h"

#include "platform/durablefile.h"

#include "messengers/purple/purpleheaders.h"
#include "messengers/purple/purpleparts.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QTimer>

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

PurpleCoreUiOps coreOps = {};

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

    // libpurple's files may hold what an account needs: the folder is private.
    if (!QFileInfo(userFolder).isDir() && !QDir().mkpath(userFolder)) {
        const QString parent = QFileInfo(userFolder).absolutePath();
        const QString why = durablefile::folderProblem(parent);
        return outcome = u"Could not create libpurple's folder %1%2."_s.arg(QDir::toNativeSeparators(userFolder),
                                                                            why.isEmpty() ? QString() : u": "_s + why);
    }
    constexpr QFileDevice::Permissions OthersMayUse = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                      QFileDevice::WriteOther | QFileDevice::ExeOther;
    if ((QFileInfo(userFolder).permissions() & OthersMayUse) &&
        !QFile::setPermissions(userFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        const QString why = durablefile::folderProblem(userFolder);
        return outcome = u"libpurple's folder %1 can be read by other users, and could not be made private to "
                         u"this user%2."_s.arg(QDir::toNativeSeparators(userFolder),
                                               why.isEmpty() ? QString() : u": "_s + why);
    }
    // The program keeps nothing in libpurple's accounts between runs (the
    // settings come from network.conf each time, and no password is kept):
    // an earlier run's accounts, read before their protocols are loaded, would
    // have no presence, and libpurple would complain about them at every turn.
    QFile::remove(QDir(userFolder).filePath(u"accounts.xml"_s));
    purple_util_set_user_dir(QFile::encodeName(QDir::toNativeSeparators(userFolder)).constData());
    purple_debug_set_enabled(FALSE);
    purple_core_set_ui_ops(&coreOps);
    purple_eventloop_set_ui_ops(Parts::eventLoopOps());
    purple_request_set_ui_ops(Parts::requestOps());
    purple_notify_set_ui_ops(Parts::notifyOps());
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
    if (withTls) {
        if (QString error = loadTls(); !error.isEmpty())
            return error;
        Parts::takeOverCertificateVerification(fromUtf8(purple_user_dir()));
    }
    return {};
}

QStringList installedProtocols()
{
    purple_plugins_add_search_path(QFile::encodeName(pluginFolder()).constData());
    purple_plugins_probe(G_MODULE_SUFFIX);
    QStringList names;
    for (GList *item = purple_plugins_get_protocols(); item; item = item->next) {
        auto *plugin = static_cast<PurplePlugin *>(item->data);
        names.append(
            u"%1 (%2)"_s.arg(fromUtf8(purple_plugin_get_id(plugin)), fromUtf8(purple_plugin_get_name(plugin))));
    }
    return names;
}

} // namespace PurpleRuntime
