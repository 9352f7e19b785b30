#include "server/serverlog.h"

#include <QDateTime>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

// Under systemd the journal stamps each line itself and reads its priority
// from a "<N>" in front of it.
bool toJournal()
{
    return qEnvironmentVariableIsSet("JOURNAL_STREAM");
}

int journalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

void writeEntry(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const bool journal = toJournal();
    const char *category = context.category ? context.category : "default";
    QByteArray prefix;
    if (journal)
        prefix = '<' + QByteArray::number(journalPriority(type)) + '>';
    else
        prefix = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8() + ' ';
    for (QStringView line : QStringView(message).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        std::fprintf(stderr, "%s%s: %s\n", prefix.constData(), category, line.toUtf8().constData());
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
