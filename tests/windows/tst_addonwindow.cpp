#include "windows/addonwindow.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QtTest>
#include <QUrl>
#include <QWidget>

using namespace Qt::StringLiterals;

// Receives the links that OpenDocument hands to the desktop.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestAddonWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stayOnTopKeepsAShownWindowShown();
    void formDragMovesTheWindowUntilRelease();
    void openDocumentHandsTheTargetToTheDesktop();
};

void TestAddonWindow::stayOnTopKeepsAShownWindowShown()
{
    QWidget hidden;
    addon::StayOnTop(&hidden);
    QVERIFY(hidden.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!hidden.isVisible());

    QWidget shown;
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    QWidget child(&shown);
    addon::StayOnTop(&child); // a control passes on to its window
    QVERIFY(shown.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(shown.isVisible());
}

void TestAddonWindow::formDragMovesTheWindowUntilRelease()
{
    QWidget window;
    new QObject(&window); // another child is not taken for a move in progress
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.resize(200, 160);
    window.move(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();

    QCursor::setPos(start + QPoint(10, 10));
    addon::FormDrag(&window);
    const auto moveTo = [&window](QPoint global, QEvent::Type type) {
        QMouseEvent event(type, window.mapFromGlobal(QPointF(global)), QPointF(global), Qt::LeftButton,
                          type == QEvent::MouseMove ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    };
    moveTo(start + QPoint(40, 30), QEvent::MouseMove);
    QTRY_COMPARE(window.pos(), start + QPoint(30, 20));
    moveTo(start + QPoint(40, 30), QEvent::MouseButtonRelease);
    moveTo(start + QPoint(90, 90), QEvent::MouseMove);
    QCoreApplication::processEvents();
    QCOMPARE(window.pos(), start + QPoint(30, 20)); // released: no longer follows
}

void TestAddonWindow::openDocumentHandsTheTargetToTheDesktop()
{
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(u"mailto"_s, &catcher, "open");
    QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
    QWidget window;
    addon::OpenDocument(u"https://www.example.org/programs"_s, &window);
    addon::OpenDocument(u"mailto:author@example.org"_s, &window);
    QDesktopServices::unsetUrlHandler(u"mailto"_s);
    QDesktopServices::unsetUrlHandler(u"https"_s);
    QCOMPARE(catcher.opened,
             (QList<QUrl>{QUrl(u"https://www.example.org/programs"_s), QUrl(u"mailto:author@example.org"_s)}));
}

QTEST_MAIN(TestAddonWindow)
#include "tst_addonwindow.moc"
