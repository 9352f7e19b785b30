#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Valdrin AIM Server v2"));
    QApplication::setApplicationVersion(QStringLiteral(VALDRIN_VERSION));

    const StartupDecision decision = parseCommandLine(QApplication::arguments(), QApplication::applicationDirPath());
    if (!decision.options) {
        std::fputs(qPrintable(decision.output + u'\n'), decision.exitCode == 0 ? stdout : stderr);
        return decision.exitCode;
    }

    Form1 window{DataFolder(decision.options->dataFolder)};
    window.show();
    return QApplication::exec();
}
