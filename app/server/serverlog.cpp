#include "app/server/serverlog.h"

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

void writeEntry(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
    const char *category = context.category ? context.category : "default";
    for (QStringView line : QStringView(message).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        std::fprintf(stderr, "%s %s: %s\n", time.constData(), category, line.toUtf8().constData());
    }
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void logToStandardError()
{
    qInstallMessageHandler(writeEntry);
}
