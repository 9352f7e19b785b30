#include "platform/purple/purpleruntime.h"

#include "platform/durablefile.h"

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

// Where what libpurple tells its user goes (see setNoticeHandler).
std::function<void(const QString &)> &noticeHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}


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

// --- Questions. Nobody sits at the keyboard, so libpurple's questions are
// answered on purpose: the one the program knows (XMPP's "configure the new
// room?", whose defaults unlock the room for everybody) gets its answer; every
// other one is refused or cancelled, never answered with its default (the
// default of a certificate question is "Accept"), and goes to the log.

QString pidginText(const char *text)
{
    return fromUtf8(g_dgettext("pidgin", text));
}

void logQuestion(const char *title, const char *primary, const QString &answer)
{
    qCWarning(lcPurple).noquote() << u"libpurple asked \"%1: %2\"; the answer was %3"_s.arg(
        fromUtf8(title), fromUtf8(primary), answer);
}

// libpurple keeps every question until the handle its answer returned is
// closed; a null handle would only be "closed" when its connection goes, with
// GLib warnings. A question answered at once returns this handle and is
// closed from the event loop.
char answeredQuestion = 0;

void *answered(PurpleRequestType type)
{
    if (QCoreApplication *application = QCoreApplication::instance()) {
        QTimer::singleShot(0, application, [type] { purple_request_close(type, &answeredQuestion); });
    }
    return &answeredQuestion;
}

struct Action
{
    QString label;
    PurpleRequestActionCb callback;
};

QList<Action> readActions(size_t count, va_list actions)
{
    QList<Action> read;
    for (size_t index = 0; index < count; ++index) {
        const char *label = va_arg(actions, const char *);
        const auto callback = reinterpret_cast<PurpleRequestActionCb>(va_arg(actions, GCallback));
        read.append({fromUtf8(label), callback});
    }
    return read;
}

void *answerAction(const char *title, const char *primary, const char *, int, PurpleAccount *, const char *,
                   PurpleConversation *, void *userData, size_t actionCount, va_list actions)
{
    const QList<Action> choices = readActions(actionCount, actions);
    const auto choose = [&](const QString &label) {
        for (qsizetype index = 0; index < choices.size(); ++index) {
            if (choices[index].label == label && choices[index].callback) {
                choices[index].callback(userData, int(index));
                return true;
            }
        }
        return false;
    };
    if (fromUtf8(title) == pidginText("Create New Room") && choose(pidginText("_Accept Defaults"))) {
        qCInfo(lcPurple) << "Created the room with its default settings";
        return answered(PURPLE_REQUEST_ACTION);
    }
    for (const char *refusal : {"_Cancel", "Cancel", "Reject", "_Reject", "_No", "No", "_Deny", "Deny"}) {
        if (choose(pidginText(refusal))) {
            logQuestion(title, primary, pidginText(refusal).remove(u'_'));
            return answered(PURPLE_REQUEST_ACTION);
        }
    }
    logQuestion(title, primary, u"none: it offered no way to refuse"_s);
    return answered(PURPLE_REQUEST_ACTION);
}

void *answerActionWithIcon(const char *title, const char *primary, const char *secondary, int defaultAction,
                           PurpleAccount *account, const char *who, PurpleConversation *conversation, gconstpointer,
                           gsize, void *userData, size_t actionCount, va_list actions)
{
    return answerAction(title, primary, secondary, defaultAction, account, who, conversation, userData, actionCount,
                        actions);
}

void *cancelInput(const char *title, const char *primary, const char *, const char *defaultValue, gboolean, gboolean,
                  gchar *, const char *, GCallback, const char *, GCallback cancel, PurpleAccount *, const char *,
                  PurpleConversation *, void *userData)
{
    logQuestion(title, primary, u"Cancel"_s);
    if (cancel)
        reinterpret_cast<PurpleRequestInputCb>(cancel)(userData, defaultValue);
    return answered(PURPLE_REQUEST_INPUT);
}

void *cancelChoice(const char *title, const char *primary, const char *, int defaultValue, const char *, GCallback,
                   const char *, GCallback cancel, PurpleAccount *, const char *, PurpleConversation *, void *userData,
                   va_list)
{
    logQuestion(title, primary, u"Cancel"_s);
    if (cancel)
        reinterpret_cast<PurpleRequestChoiceCb>(cancel)(userData, defaultValue);
    return answered(PURPLE_REQUEST_CHOICE);
}

void *cancelFields(const char *title, const char *primary, const char *, PurpleRequestFields *fields, const char *,
                   GCallback, const char *, GCallback cancel, PurpleAccount *, const char *, PurpleConversation *,
                   void *userData)
{
    logQuestion(title, primary, u"Cancel"_s);
    if (cancel)
        reinterpret_cast<PurpleRequestFieldsCb>(cancel)(userData, fields);
    // The fields belong to whoever shows them; nothing shows them here.
    purple_request_fields_destroy(fields);
    return answered(PURPLE_REQUEST_FIELDS);
}

void *cancelFile(const char *title, const char *, gboolean, GCallback, GCallback cancel, PurpleAccount *, const char *,
                 PurpleConversation *, void *userData)
{
    logQuestion(title, "a file", u"Cancel"_s);
    if (cancel)
        reinterpret_cast<PurpleRequestFileCb>(cancel)(userData, nullptr);
    return answered(PURPLE_REQUEST_FILE);
}

void *cancelFolder(const char *title, const char *, GCallback, GCallback cancel, PurpleAccount *, const char *,
                   PurpleConversation *, void *userData)
{
    logQuestion(title, "a folder", u"Cancel"_s);
    if (cancel)
        reinterpret_cast<PurpleRequestFileCb>(cancel)(userData, nullptr);
    return answered(PURPLE_REQUEST_FOLDER);
}

PurpleRequestUiOps requestOps = [] {
    PurpleRequestUiOps ops = {};
    ops.request_input = cancelInput;
    ops.request_choice = cancelChoice;
    ops.request_action = answerAction;
    ops.request_fields = cancelFields;
    ops.request_file = cancelFile;
    ops.request_folder = cancelFolder;
    ops.request_action_with_icon = answerActionWithIcon;
    return ops;
}();

// --- Certificates. Every server certificate is verified by the program
// itself, and nothing is ever trusted for next time: a certificate that fails
// refuses the connection and is stored nowhere. A server the operator hosts
// is trusted on purpose, by its pinned fingerprint or by an extra authority.

struct Trust
{
    QByteArray pinnedFingerprint; // SHA-256, raw bytes; empty when none is pinned
    QList<PurpleCertificate *> authorities;
};

QHash<QString, Trust> &trustByHost()
{
    static QHash<QString, Trust> trust;
    return trust;
}

QString hexFingerprint(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(':').toUpper());
}

QByteArray sha256Of(PurpleCertificate *certificate)
{
    GByteArray *digest = purple_certificate_get_fingerprint_sha256(certificate, FALSE);
    if (!digest)
        return {};
    QByteArray bytes(reinterpret_cast<const char *>(digest->data), int(digest->len));
    g_byte_array_free(digest, TRUE);
    return bytes;
}

QString subjectOf(PurpleCertificate *certificate)
{
    gchar *subject = purple_certificate_get_subject_name(certificate);
    const QString text = fromUtf8(subject);
    g_free(subject);
    return text;
}

bool sameCertificate(PurpleCertificate *a, PurpleCertificate *b)
{
    const QByteArray first = sha256Of(a);
    return !first.isEmpty() && first == sha256Of(b);
}

// Whether the chain ends at an authority this machine trusts, or one that the
// settings add for this host.
bool issuedByTrustedAuthority(GList *chain, const Trust &trust)
{
    if (!purple_certificate_check_signature_chain(chain))
        return false;
    PurpleCertificate *last = static_cast<PurpleCertificate *>(g_list_last(chain)->data);
    QList<PurpleCertificate *> authorities = trust.authorities;
    if (PurpleCertificatePool *system = purple_certificate_find_pool("x509", "ca")) {
        gchar *issuer = purple_certificate_get_issuer_unique_id(last);
        if (issuer && purple_certificate_pool_contains(system, issuer)) {
            if (PurpleCertificate *authority = purple_certificate_pool_retrieve(system, issuer))
                authorities.append(authority);
        }
        g_free(issuer);
    }
    bool trusted = false;
    for (PurpleCertificate *authority : std::as_const(authorities)) {
        if (sameCertificate(last, authority) || purple_certificate_signed_by(last, authority)) {
            trusted = true;
            break;
        }
    }
    // Those taken from the system's pool were copies for this check.
    for (qsizetype i = trust.authorities.size(); i < authorities.size(); ++i)
        purple_certificate_destroy(authorities[i]);
    return trusted;
}

// Why the certificate chain is not to be trusted for the host; empty when it is.
QString whyRefused(const QString &host, GList *chain, const Trust &trust)
{
    auto *leaf = static_cast<PurpleCertificate *>(chain->data);
    if (!trust.pinnedFingerprint.isEmpty()) {
        if (sha256Of(leaf) == trust.pinnedFingerprint)
            return {};
        return u"it is not the certificate pinned by tls-fingerprint (%1)"_s.arg(hexFingerprint(trust.pinnedFingerprint));
    }
    time_t activation = 0;
    time_t expiration = 0;
    const time_t now = time(nullptr);
    if (purple_certificate_get_times(leaf, &activation, &expiration)) {
        if (now < activation)
            return u"it is not valid yet"_s;
        if (now > expiration)
            return u"it has expired"_s;
    }
    const QByteArray name = host.toUtf8();
    if (!purple_certificate_check_subject_name(leaf, name.constData()))
        return u"it was issued to %1, not to %2"_s.arg(subjectOf(leaf), host);
    if (!issuedByTrustedAuthority(chain, trust)) {
        if (g_list_length(chain) == 1 && purple_certificate_signed_by(leaf, leaf))
            return u"it is self-signed"_s;
        return u"it was not issued by an authority this machine trusts"_s;
    }
    return {};
}

void verifyCertificate(PurpleCertificateVerificationRequest *request)
{
    const QString host = fromUtf8(request->subject_name);
    if (!request->cert_chain) {
        purple_certificate_verify_complete(request, PURPLE_CERTIFICATE_INVALID);
        return;
    }
    const Trust trust = trustByHost().value(host.toLower());
    const QString why = whyRefused(host, request->cert_chain, trust);
    if (why.isEmpty()) {
        purple_certificate_verify_complete(request, PURPLE_CERTIFICATE_VALID);
        return;
    }
    const QString fingerprint = hexFingerprint(sha256Of(static_cast<PurpleCertificate *>(request->cert_chain->data)));
    if (noticeHandler()) {
        noticeHandler()(u"The certificate of %1 was refused: %2. Its SHA-256 fingerprint is %3. To trust this "
                        u"server on purpose, write \"tls-fingerprint = %3\" in network.conf, or name the file of "
                        u"the authority that issued it with \"tls-ca-file = PATH\"."_s.arg(host, why, fingerprint));
    }
    purple_certificate_verify_complete(request, PURPLE_CERTIFICATE_INVALID);
}

void forgetRequest(PurpleCertificateVerificationRequest *) {}

// The verifier that libpurple's TLS connections ask, by this name.
PurpleCertificateVerifier certificateVerifier = {const_cast<gchar *>("x509"), const_cast<gchar *>("tls_cached"),
                                                 verifyCertificate, forgetRequest, nullptr, nullptr, nullptr, nullptr};

void takeOverCertificateVerification(const QString &userFolder)
{
    PurpleCertificateVerifier *own = purple_certificate_find_verifier("x509", "tls_cached");
    if (own && own != &certificateVerifier)
        purple_certificate_unregister_verifier(own);
    if (purple_certificate_find_verifier("x509", "tls_cached") != &certificateVerifier)
        purple_certificate_register_verifier(&certificateVerifier);
    // Certificates an earlier version let libpurple trust for next time are
    // trusted no more.
    QDir(QDir(userFolder).filePath(u"certificates/x509/tls_peers"_s)).removeRecursively();
}

PurpleCoreUiOps coreOps = {};

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
    if (withTls) {
        if (QString error = loadTls(); !error.isEmpty())
            return error;
        takeOverCertificateVerification(fromUtf8(purple_user_dir()));
    }
    return {};
}

QString trustServer(const QString &host, const QByteArray &pinnedFingerprint, const QString &authorityFile)
{
    Trust &trust = trustByHost()[host.toLower()];
    trust.pinnedFingerprint = pinnedFingerprint;
    for (PurpleCertificate *authority : std::as_const(trust.authorities))
        purple_certificate_destroy(authority);
    trust.authorities.clear();
    if (authorityFile.isEmpty())
        return {};
    PurpleCertificateScheme *x509 = purple_certificate_find_scheme("x509");
    GSList *imported = x509 ? purple_certificates_import(x509, QFile::encodeName(authorityFile).constData()) : nullptr;
    if (!imported)
        return u"no certificate could be read from %1 (it must hold PEM certificates)"_s.arg(authorityFile);
    for (GSList *item = imported; item; item = item->next)
        trust.authorities.append(static_cast<PurpleCertificate *>(item->data));
    g_slist_free(imported);
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
