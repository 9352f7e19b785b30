// Takes pictures of the three windows and of the main window beside the local
// room, with a small sample catalogue. Run: scripts/screenshots.sh
#include "windows/form1.h"

#include "messengers/localroom/localroom.h"
#include "platform/addon.h"
#include "platform/rowlist.h"
#include "windows/localroomwindow.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

bool save(const QPixmap &picture, const QString &folder, const QString &name)
{
    const QString path = QDir(folder).filePath(name);
    if (picture.save(path))
        return true;
    std::fprintf(stderr, "Could not write %s\n", qPrintable(path));
    return false;
}

void settle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"screenshots"_s;
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : u"1x"_s;
    QDir().mkpath(folder);

    QTemporaryDir data;
    const QStringList descriptions{u"Qt documentation"_s, u"Debian packages"_s, u"Chat etiquette"_s,
                                   u"Link collection <b>bold</b> & more"_s};
    const QStringList addresses{u"https://doc.qt.io/"_s, u"https://packages.debian.org/"_s,
                                u"https://www.example.org/etiquette"_s, u"https://www.example.org/links"_s};
    if (!addon::SaveList(QDir(data.path()).filePath(u"descriptions.dat"_s), StringRowList(descriptions)).ok() ||
        !addon::SaveList(QDir(data.path()).filePath(u"urls.dat"_s), StringRowList(addresses)).ok())
        return 1;

    auto *room = new LocalRoom();
    Form1 form{DataFolder(data.path()), room};
    form.move(20, 20);
    form.show();
    LocalRoomWindow roomWindow(room);
    roomWindow.move(form.frameGeometry().topRight() + QPoint(12, 0));
    roomWindow.show();
    form.List1->setCurrentRow(1);
    form.Text1->setText(u"New page"_s);
    form.Label2_Click();
    room->post(u"Ann"_s, u"/Link Desk send list"_s);
    room->post(u"Ann"_s, u"/linkdesk send 0"_s);
    settle(1500);

    form.Label9_Click();
    form.Label8_Click();
    settle(200);

    bool ok = save(form.grab(), folder, u"form1-%1.png"_s.arg(suffix));
    ok = save(form.aboutWindow()->grab(), folder, u"form2-%1.png"_s.arg(suffix)) && ok;
    ok = save(form.messageEditor()->grab(), folder, u"form3-%1.png"_s.arg(suffix)) && ok;

    // The main window beside the local room, as a person sees them.
    const QPixmap main = form.grab();
    const QPixmap roomPicture = roomWindow.grab();
    const qreal ratio = main.devicePixelRatio();
    const int gap = int(12 * ratio);
    QPixmap overview(main.width() + gap + roomPicture.width(), std::max(main.height(), roomPicture.height()));
    overview.fill(QColor(60, 60, 60));
    {
        QPainter painter(&overview);
        painter.drawPixmap(0, 0, main.width(), main.height(), main);
        painter.drawPixmap(main.width() + gap, 0, roomPicture.width(), roomPicture.height(), roomPicture);
    }
    ok = save(overview, folder, u"overview-%1.png"_s.arg(suffix)) && ok;

    form.aboutWindow()->close();
    form.messageEditor()->close();
    return ok ? 0 : 1;
}
