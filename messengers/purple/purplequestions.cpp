#include "messengers/purple/connectionparts.h"
#include "messengers/purple/purpleparts.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

// Questions. Nobody sits at the keyboard, so libpurple's questions are
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
    qCWarning(lcPurple).noquote() << u"libpurple asked \"%1: %2\"; the answer was %3"_s.arg(fromUtf8(title),
                                                                                            fromUtf8(primary), answer);
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

void *answerAction(const char *title, const char *primary, const char *, int, PurpleAccount *account, const char *,
                   PurpleConversation *conversation, void *userData, size_t actionCount, va_list actions)
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
        qCInfo(lcPurple).noquote() << PurpleSignals::labelOf(account, conversation)
                                   << "Created the room with its default settings";
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

} // namespace

PurpleRequestUiOps *PurpleRuntime::Parts::requestOps()
{
    return &::requestOps;
}
