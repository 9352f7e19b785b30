#include "windows/form1.h"

#include "support/testfiles.h"

#include "messengers/localroom/localroom.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "windows/clickablelabel.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestForm1Layout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void controlsSitAtTheirTwipPositions_data();
    void controlsSitAtTheirTwipPositions();
    void windowIsFramelessWithTitleAndIcon();
    void focusGoesRoundInTheWindowsOrder();
    void labelsRunTheirHandlers();
    void hiddenButtonsAnswerSpaceAndEnter();
    void aboutAndEditorOpenOnceEach();
    void pressOnBackgroundMovesTheWindowButNotOnALabel();
    // Last: it runs the application's loop and changes how the program ends.
    void closingTheMainWindowLeavesTheEditorRunning();

private:
    std::unique_ptr<testfiles::DataFolder> m_dir;
    std::unique_ptr<Form1> m_form;
};

void TestForm1Layout::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestForm1Layout::init()
{
    m_dir = std::make_unique<testfiles::DataFolder>();
    m_form = std::make_unique<Form1>(DataFolder(m_dir->path()), new LocalRoom());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestForm1Layout::cleanup()
{
    if (m_form && m_form->aboutWindow())
        delete m_form->aboutWindow();
    if (m_form && m_form->messageEditor())
        delete m_form->messageEditor();
    m_form.reset();
}

void TestForm1Layout::controlsSitAtTheirTwipPositions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("text");
    QTest::newRow("Text2") << u"Text2"_s << QRect(930, 1740, 1815, 195) << QString();
    QTest::newRow("List2") << u"List2"_s << QRect(60, 750, 2835, 420) << QString();
    QTest::newRow("Command3") << u"Command3"_s << QRect(2280, 4200, 1185, 255) << u"build list"_s;
    QTest::newRow("Command2") << u"Command2"_s << QRect(630, 4200, 1185, 255) << u"On"_s;
    QTest::newRow("Command1") << u"Command1"_s << QRect(1890, 3870, 285, 285) << u"A"_s;
    QTest::newRow("Text1") << u"Text1"_s << QRect(930, 1530, 1815, 195) << QString();
    QTest::newRow("List1") << u"List1"_s << QRect(60, 300, 2835, 420) << QString();
    QTest::newRow("Label10") << u"Label10"_s << QRect(90, 1230, 2775, 195) << u"Server Items: 0"_s;
    QTest::newRow("Label9") << u"Label9"_s << QRect(2430, 2070, 465, 195) << u"About"_s;
    QTest::newRow("Label8") << u"Label8"_s << QRect(1680, 2070, 675, 195) << u"Message"_s;
    QTest::newRow("Label7") << u"Label7"_s << QRect(2670, -90, 105, 255) << u"_"_s;
    QTest::newRow("Label6") << u"Label6"_s << QRect(2820, 0, 135, 195) << u"X"_s;
    QTest::newRow("Label5") << u"Label5"_s << QRect(2760, 1500, 105, 465) << u"A D D"_s;
    QTest::newRow("Label1") << u"Label1"_s << QRect(330, 1710, 615, 195) << u"Address:"_s;
    QTest::newRow("Label4") << u"Label4"_s << QRect(90, 1500, 855, 195) << u"Description:"_s;
    QTest::newRow("Label3") << u"Label3"_s << QRect(3660, 3420, 645, 195) << u"Build List"_s;
    QTest::newRow("Label2") << u"Label2"_s << QRect(90, 2070, 345, 195) << u"On"_s;
}

void TestForm1Layout::controlsSitAtTheirTwipPositions()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, text);
    const auto *control = m_form->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QVERIFY(!control->isHidden());
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    } else if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        QCOMPARE(button->text(), text);
        // Outside the visible area: the mouse cannot reach it.
        QVERIFY(!m_form->rect().intersects(control->geometry()));
    }
}

void TestForm1Layout::windowIsFramelessWithTitleAndIcon()
{
    QCOMPARE(m_form->size(), QSize(199, 161));
    QVERIFY(m_form->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!m_form->windowFlags().testFlag(Qt::Tool)); // it has a taskbar button
    QCOMPARE(m_form->windowTitle(), u"Valdrin AIM Server v2"_s);
    QVERIFY(!m_form->windowIcon().isNull());
    QCOMPARE(m_form->lines(), (QList<QLine>{{6, 132, 192, 132}, {6, 96, 192, 96}, {6, 80, 192, 80}}));
    QCOMPARE(m_form->Label6->font().bold(), true);
    QCOMPARE(m_form->Label5->font().pointSizeF(), 6.0);
    QCOMPARE(m_form->Text1->font().pointSizeF(), 6.75);
    QCOMPARE(m_form->Label10->font().pointSizeF(), 8.25);
}

void TestForm1Layout::focusGoesRoundInTheWindowsOrder()
{
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QTRY_COMPARE(QApplication::focusWidget(), m_form->List1);
    const QList<QWidget *> order{m_form->Text1, m_form->Command1, m_form->Command2, m_form->Command3,
                                 m_form->List2, m_form->Text2,    m_form->List1};
    for (QWidget *expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected);
    }
}

void TestForm1Layout::labelsRunTheirHandlers()
{
    m_form->Text1->setText(u"Alpha"_s);
    m_form->Text2->setText(u"a.htm"_s);
    QTest::mouseClick(m_form->Label5, Qt::LeftButton);
    QCOMPARE(m_form->List1->count(), 1);
    m_form->server().values().ListPages = ListPageSet(StringRowList({u"stale"_s}));
    // "Build List" lies outside the window: only a click sent to it reaches it.
    QTest::mouseClick(m_form->Label3, Qt::LeftButton);
    QCOMPARE(m_form->server().values().ListPages.texts(), QStringList{u"\r0) Alpha"_s});
    QTest::mouseClick(m_form->Label2, Qt::RightButton); // any button
    QCOMPARE(m_form->Label2->text(), u"Off"_s);
    QTest::mouseClick(m_form->Label9, Qt::LeftButton);
    QVERIFY(m_form->aboutWindow() && m_form->aboutWindow()->isVisible());
    QTest::mouseClick(m_form->Label8, Qt::LeftButton);
    QVERIFY(m_form->messageEditor() && m_form->messageEditor()->isVisible());
    QTest::mouseClick(m_form->Label7, Qt::LeftButton);
    QVERIFY(m_form->isMinimized());
    m_form->showNormal();
    QTest::mouseClick(m_form->Label6, Qt::LeftButton);
    QVERIFY(!m_form->isVisible());
}

void TestForm1Layout::hiddenButtonsAnswerSpaceAndEnter()
{
    m_form->server().values().ListPages = ListPageSet(StringRowList({u"stale"_s}));
    m_form->Command3->setFocus();
    QTest::keyClick(m_form->Command3, Qt::Key_Return);
    QCOMPARE(m_form->server().values().ListPages.texts(), QStringList{QString()});
    m_form->Command2->setFocus();
    QTest::keyClick(m_form->Command2, Qt::Key_Space);
    QCOMPARE(m_form->Command2->text(), u"Off"_s);
    QTest::keyClick(m_form->Command2, Qt::Key_Enter);
    QCOMPARE(m_form->Command2->text(), u"On"_s);
}

void TestForm1Layout::aboutAndEditorOpenOnceEach()
{
    m_form->Label9_Click();
    Form2 *about = m_form->aboutWindow();
    m_form->Label9_Click();
    QCOMPARE(m_form->aboutWindow(), about);
    QCOMPARE(QApplication::topLevelWidgets().count(about), 1);

    m_form->Label8_Click();
    Form3 *editor = m_form->messageEditor();
    editor->Text1->setPlainText(u"not saved yet"_s);
    m_form->Label8_Click();
    QCOMPARE(m_form->messageEditor(), editor);
    QCOMPARE(editor->Text1->toPlainText(), u"not saved yet"_s); // not reloaded

    // Both are modeless, without an owner, and have no taskbar button.
    for (QWidget *window : {static_cast<QWidget *>(about), static_cast<QWidget *>(editor)}) {
        QVERIFY(!window->parentWidget());
        QVERIFY(!window->isModal());
        QVERIFY(window->windowFlags().testFlag(Qt::Tool));
        QVERIFY(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }
}

void TestForm1Layout::closingTheMainWindowLeavesTheEditorRunning()
{
    // The application's own loop decides when the program ends, so run it,
    // with the main window set up as the program sets it up.
    FramelessWindow::endProgramWithLastWindow();
    Form1 *form = m_form.release();
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->Label8_Click();
    QPointer<Form3> editor = form->messageEditor();
    bool runningAfterMainClosed = false;
    QTimer::singleShot(0, this, [form] { form->close(); });
    QTimer::singleShot(300, this, [&] {
        runningAfterMainClosed = editor && editor->isVisible();
        if (editor)
            editor->Label1_Click(); // "Save" is its only way out
    });
    QTimer::singleShot(5000, this, [] { QCoreApplication::exit(1); }); // should never be needed
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(runningAfterMainClosed);
}

void TestForm1Layout::pressOnBackgroundMovesTheWindowButNotOnALabel()
{
    QSignalSpy moves(m_form.get(), &FramelessWindow::backgroundPressed);
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_form->Label10, m_form->Label2, m_form->List1, m_form->Text1}) {
        QTest::mousePress(control, Qt::LeftButton);
        QTest::mouseRelease(control, Qt::LeftButton);
    }
    QCOMPARE(moves.size(), 0);

    // On a line (lines take no mouse input) and on the drawn title strip, with any button.
    const QPoint onLine2(50, 96);
    QCOMPARE(m_form->childAt(onLine2), nullptr);
    QTest::mousePress(m_form.get(), Qt::RightButton, {}, onLine2);
    QTest::mouseRelease(m_form.get(), Qt::RightButton, {}, onLine2);
    QTest::mousePress(m_form.get(), Qt::LeftButton, {}, QPoint(60, 5));
    QTest::mouseRelease(m_form.get(), Qt::LeftButton, {}, QPoint(60, 5));
    QCOMPARE(moves.size(), 2);
}

QTEST_MAIN(TestForm1Layout)
#include "tst_form1layout.moc"
