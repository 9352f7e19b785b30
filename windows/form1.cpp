#include "windows/form1.h"

#include "catalogue/catalogue.h"
#include "platform/messenger.h"
#include "server/servercore.h"
#include "serving/linkserver.h"
#include "serving/servedrooms.h"
#include "serving/servingswitch.h"
#include "windows/addonwindow.h"
#include "windows/clickablelabel.h"
#include "windows/form2.h"
#include "windows/form3.h"
#include "windows/operatormessages.h"
#include "windows/rowsview.h"
#include "windows/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

// How long a change waits for another program's change of the catalogue to end;
// the window does not answer meanwhile.
constexpr int LockWaitMs = 2000;

// The two captions of a serving switch: "On" while serving is off, "Off" while it is on.
const QString SwitchOnCaption = u"On"_s;
const QString SwitchOffCaption = u"Off"_s;

// The caption of the item count label.
QString countCaption(int count)
{
    return u"Server Items: "_s + QString::number(count);
}

template <typename Widget> Widget *placed(Widget *widget, const QString &name, QRect twips)
{
    widget->setObjectName(name);
    widget->setGeometry(Twips::rect(twips.x(), twips.y(), twips.width(), twips.height()));
    return widget;
}

// List and text boxes are drawn flat: a thin line round a white field.
void makeFlat(QListWidget *list)
{
    list->setFrameShape(QFrame::Box);
    list->setFrameShadow(QFrame::Plain);
    list->setLineWidth(1);
    list->setUniformItemSizes(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Two rows of text in the 28 pixels the layout gives each list.
    list->setStyleSheet(u"QListWidget { background: white; border: 1px solid black; }"
                        u"QListWidget::item { padding: 0px; margin: 0px; height: 13px; }"_s);
}

void makeFlat(QLineEdit *box)
{
    box->setStyleSheet(u"QLineEdit { border: 1px solid black; background: white; padding: 0px; }"_s);
}

} // namespace

Form1::Form1(const DataFolder &folder, MorvexAIMOCX::AIM *messenger, QWidget *parent)
    : FramelessWindow({2985, 2415}, Taskbar::Shown, parent)
{
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Valdrin AIM Server v2"_s);
    setWindowIcon(QIcon(u":/artwork/icon.png"_s));

    AIM1 = messenger;
    if (AIM1)
        AIM1->setParent(this);
    createControls();

    // The serving switches are the operator's: no room is served before one is clicked.
    m_core = std::make_unique<ServerCore>(folder, ServerCore::Serving::ByOperator);
    connect(m_core.get(), &ServerCore::catalogueChanged, this, [this] {
        showRows();
        showItemCount();
    });
    connect(m_core.get(), &ServerCore::servingChanged, this, &Form1::followRooms);
    connect(m_core.get(), &ServerCore::allRefused, this, [this] {
        OperatorMessages::warnLater(this,
                                    u"Every chat network of %1 refused the sign-on: nothing is served. Check "
                                    u"the accounts and passwords in the file, then start the program again."_s.arg(
                                        NetworkSettings::fileName()));
    });

    connect(m_core.get(), &ServerCore::settingsRefused, this,
            [this](const QString &why) { OperatorMessages::warnLater(this, why); });

    Form_Load();
    if (AIM1)
        m_core->start(AIM1);
    List1->setFocus();
}

Form1::~Form1() = default;

QString Form1::serve(const NetworkConfig &settings)
{
    return m_core->start(settings);
}

void Form1::followRooms()
{
    const QList<QTimer *> timers = m_core->rooms().timers();
    Timer1 = timers.isEmpty() ? nullptr : timers.first();
    const QString states = m_core->roomStates().join(u'\n');
    Label2->setToolTip(states);
    Command2->setToolTip(states);
}

LinkServer &Form1::server()
{
    return m_core->links();
}

CatalogueChange::Target Form1::changeTarget()
{
    return {m_core->catalogue(), m_core->links().serverMessageFile()};
}

Catalogue &Form1::catalogue()
{
    return m_core->catalogue();
}

void Form1::createControls()
{
    // Created in the window's own order, which is also the keyboard's order for
    // the controls that take the focus: List1, Text1, Command1, Command2,
    // Command3, List2, Text2. The buttons lie outside the visible area: only
    // the keyboard reaches them.
    Text2 = placed(new QLineEdit(this), u"Text2"_s, {930, 1740, 1815, 195});
    List2 = placed(new QListWidget(this), u"List2"_s, {60, 750, 2835, 420});
    Command3 = placed(new QPushButton(u"build list"_s, this), u"Command3"_s, {2280, 4200, 1185, 255});
    Command2 = placed(new QPushButton(SwitchOnCaption, this), u"Command2"_s, {630, 4200, 1185, 255});
    Command1 = placed(new QPushButton(u"A"_s, this), u"Command1"_s, {1890, 3870, 285, 285});
    Text1 = placed(new QLineEdit(this), u"Text1"_s, {930, 1530, 1815, 195});
    List1 = placed(new QListWidget(this), u"List1"_s, {60, 300, 2835, 420});
    addLine({90, 1980, 2880, 1980}); // Line3, below the input rows
    addLine({90, 1440, 2880, 1440}); // Line2, below the item count
    Label10 = addLabel(u"Label10"_s, countCaption(0), {90, 1230, 2775, 195});
    addLine({90, 1200, 2880, 1200}); // Line1, above the item count
    Label9 = addLabel(u"Label9"_s, u"About"_s, {2430, 2070, 465, 195});
    Label8 = addLabel(u"Label8"_s, u"Message"_s, {1680, 2070, 675, 195});
    Label7 = addLabel(u"Label7"_s, u"_"_s, {2670, -90, 105, 255});
    Label6 = addLabel(u"Label6"_s, u"X"_s, {2820, 0, 135, 195});
    Label5 = addLabel(u"Label5"_s, u"A D D"_s, {2760, 1500, 105, 465});
    Label1 = addLabel(u"Label1"_s, u"Address:"_s, {330, 1710, 615, 195});
    Label4 = addLabel(u"Label4"_s, u"Description:"_s, {90, 1500, 855, 195});
    Label3 = addLabel(u"Label3"_s, u"Build List"_s, {3660, 3420, 645, 195});
    Label2 = addLabel(u"Label2"_s, SwitchOnCaption, {90, 2070, 345, 195});

    // Space or Enter on a focused button presses it.
    for (QPushButton *button : {Command1, Command2, Command3})
        button->setAutoDefault(true);
    for (QLineEdit *box : {Text1, Text2}) {
        // Pasted text of any length is taken whole, never cut at a limit.
        box->setMaxLength(std::numeric_limits<int>::max());
        box->setFont(arialFont(6.75, false));
        makeFlat(box);
    }
    makeFlat(List1);
    makeFlat(List2);
    Label7->setFont(arialFont(8.25, true));
    Label6->setFont(arialFont(8.25, true));
    // One letter a line, so the label reads as a vertical button.
    Label5->setFont(arialFont(6, false));
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    setTabOrder(List1, Text1);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, List2);
    setTabOrder(List2, Text2);

    connect(Label2, &ClickableLabel::clicked, this, &Form1::Label2_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Label3, &ClickableLabel::clicked, this, &Form1::Label3_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Label5, &ClickableLabel::clicked, this, &Form1::Label5_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(List1, &QListWidget::currentRowChanged, this, &Form1::List1_Click);
    connect(List2, &QListWidget::currentRowChanged, this, &Form1::List2_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, &Form1::List1_DblClick);
    connect(List2, &QListWidget::itemDoubleClicked, this, &Form1::List2_DblClick);
    connect(Label6, &ClickableLabel::clicked, this, &Form1::Label6_Click);
    connect(Label7, &ClickableLabel::clicked, this, &Form1::Label7_Click);
    connect(Label8, &ClickableLabel::clicked, this, &Form1::Label8_Click);
    connect(Label9, &ClickableLabel::clicked, this, &Form1::Label9_Click);
}

void Form1::BuildList()
{
    m_core->links().BuildList();
}

void Form1::BuildList2()
{
    m_core->links().BuildList2();
}

// Each switch's caption is its own state: "On" switches serving on, anything
// else off; the two captions do not follow each other.
// Every room the program is in follows the switches.
void Form1::Label2_Click()
{
    if (Label2->text() == SwitchOnCaption) {
        if (const QString refused = m_core->switchOn(OpeningLines::Full); refused.isEmpty())
            Label2->setText(SwitchOffCaption);
        else
            OperatorMessages::show(this, refused);
    } else if (m_core->switchOff(StopLine::NoLongerServing)) {
        Label2->setText(SwitchOnCaption);
    }
}

void Form1::Command2_Click()
{
    if (Command2->text() == SwitchOnCaption) {
        if (const QString refused = m_core->switchOn(OpeningLines::Short); refused.isEmpty())
            Command2->setText(SwitchOffCaption);
        else
            OperatorMessages::show(this, refused);
    } else if (m_core->switchOff(StopLine::ServerOff)) {
        Command2->setText(SwitchOnCaption);
    }
}

void Form1::Timer1_Timer()
{
    m_core->rooms().advertise();
}

void Form1::Label3_Click()
{
    BuildList();
}

void Form1::Command3_Click()
{
    BuildList();
}

void Form1::Label5_Click()
{
    if (!addItemFromBoxes())
        return;
    BuildList();
    showItemCount();
}

void Form1::Command1_Click()
{
    // The hidden button adds without the page rebuild and the new count.
    addItemFromBoxes();
}

void Form1::tellEdit(const CatalogueEdit &edit)
{
    if (edit.message.isEmpty())
        return;
    QString text = edit.message;
    // The window keeps an unsaved change and tries again; a held catalogue says its own.
    if (edit.done && catalogue().hasUnsavedChanges() && !catalogue().filesHeld())
        text += u"\n\nThe change is kept in the program and will be saved again with the next change and when "
                u"the main window closes."_s;
    OperatorMessages::warnLater(this, text);
}

void Form1::tellChange(const CatalogueChange::Outcome &outcome)
{
    using Result = CatalogueChange::Outcome::Result;
    switch (outcome.result) {
    case Result::Unsaved:
        tellEdit({true, outcome.notes});
        return;
    case Result::Changed:
        if (!outcome.notes.isEmpty())
            OperatorMessages::warnLater(this, outcome.notes);
        return;
    case Result::Refused:
    case Result::Unstorable:
    case Result::FilesFailed:
        OperatorMessages::warnLater(this,
                                    outcome.notes.isEmpty() ? outcome.told : outcome.told + u"\n\n"_s + outcome.notes);
        return;
    }
}

bool Form1::addItemFromBoxes()
{
    // An empty box adds nothing, without a word.
    if (Text1->text().isEmpty() || Text2->text().isEmpty())
        return false;
    const CatalogueChange::Outcome outcome =
        CatalogueChange::apply(changeTarget(), CatalogueChange::AddItem{Text1->text(), Text2->text()}, LockWaitMs);
    const bool added = outcome.changed() || outcome.result == CatalogueChange::Outcome::Result::Unsaved;
    showRows();
    if (added) {
        Text1->setText(QString());
        Text2->setText(QString());
    }
    tellChange(outcome);
    return added;
}

void Form1::List1_Click()
{
    // Selecting the row a list already has raises nothing, so this cannot echo.
    mirrorSelection(List1, List2);
}

void Form1::List2_Click()
{
    mirrorSelection(List2, List1);
}

void Form1::mirrorSelection(QListWidget *from, QListWidget *to)
{
    // A row the other list lacks (files out of step) leaves nothing selected
    // there, quietly, so the row stays selected and is removed alone.
    if (from->currentRow() < to->count()) {
        to->setCurrentRow(from->currentRow());
    } else {
        const QSignalBlocker quiet(to);
        to->setCurrentRow(-1);
    }
}

void Form1::List1_DblClick()
{
    removeSelectedItem();
}

void Form1::List2_DblClick()
{
    removeSelectedItem();
}

void Form1::removeSelectedItem()
{
    const QListWidgetItem *description = List1->currentItem();
    const QListWidgetItem *address = List2->currentItem();
    if (!description && !address)
        return; // nothing selected: the boxes keep what the operator typed
    Text1->setText(description ? description->text() : QString());
    Text2->setText(address ? address->text() : QString());

    // One turn of the event loop, as before a removal the window always had;
    // a click in it may change the selection, so the rows are read again below.
    QPointer<Form1> self(this);
    QCoreApplication::processEvents();
    if (!self)
        return;
    const auto seen = [](const QListWidget *list) {
        const QListWidgetItem *row = list->currentItem();
        return row ? std::optional(row->text()) : std::nullopt;
    };
    if (List1->currentRow() < 0 && List2->currentRow() < 0)
        return;
    const CatalogueChange::Outcome outcome = CatalogueChange::apply(
        changeTarget(),
        CatalogueChange::RemoveItem{{List1->currentRow(), List2->currentRow(), seen(List1), seen(List2)}}, LockWaitMs);
    showRows();
    showItemCount();
    tellChange(outcome);
}

void Form1::Label6_Click()
{
    close();
}

void Form1::Label7_Click()
{
    showMinimized();
}

void Form1::Label8_Click()
{
    // Modeless and without an owner, so it outlives this window if left open.
    if (!m_form3)
        m_form3 = new Form3(
            m_core->links().serverMessageFile(),
            [self = QPointer<Form1>(this), message = m_core->links().serverMessageFile()](const QString &text) {
                // The editor may outlive this window: then it sets the message alone.
                if (!self)
                    return Form3::setAlone(message, text);
                return CatalogueChange::apply(self->changeTarget(), CatalogueChange::SetMessage{text}, LockWaitMs);
            });
    m_form3->show();
    m_form3->raise();
    m_form3->activateWindow();
}

void Form1::Label9_Click()
{
    if (!m_form2)
        m_form2 = new Form2();
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!Form_Unload()) {
        event->ignore();
        return;
    }
    if (Timer1)
        Timer1->stop();
    // A list reply waiting for its next page ends now rather than page by page.
    m_core->stop();
    event->accept();
}

void Form1::Form_Load()
{
    addon::StayOnTop(this);
    const QStringList problems = m_core->load();
    showRows();
    showItemCount();
    if (!problems.isEmpty()) {
        // Shown once the window is up, so the start is not held by a dialog.
        QTimer::singleShot(0, this, [this, problems] { OperatorMessages::warnLater(this, problems.join(u"\n\n")); });
    }
    if (const QString unmatched = catalogue().unmatchedRows(); !unmatched.isEmpty()) {
        QTimer::singleShot(0, this, [this, unmatched] {
            OperatorMessages::offerToRemoveUnmatchedRows(this, unmatched, [self = QPointer<Form1>(this)] {
                if (!self)
                    return;
                const CatalogueEdit edit = self->catalogue().removeUnmatchedRows();
                self->showRows();
                self->showItemCount();
                self->tellEdit(edit);
            });
        });
    }
}

bool Form1::Form_Unload()
{
    if (catalogue().filesHeld()) {
        if (!catalogue().hasUnsavedChanges())
            return true;
        return OperatorMessages::askAfterFailedSave(this, catalogue().save().error, false) !=
               OperatorMessages::SaveChoice::KeepOpen;
    }
    for (;;) {
        const FileResult saved = catalogue().save();
        if (saved.ok())
            return true;
        switch (OperatorMessages::askAfterFailedSave(this, saved.error)) {
        case OperatorMessages::SaveChoice::Retry:
            continue;
        case OperatorMessages::SaveChoice::CloseWithoutSaving:
            return true;
        case OperatorMessages::SaveChoice::KeepOpen:
            return false;
        }
    }
}

void Form1::showRows()
{
    // The address row goes first, as a removal always took it: the description
    // list's selection then follows the address list's.
    ::showRows(List2, m_core->addresses());
    ::showRows(List1, m_core->descriptions());
}

void Form1::showItemCount()
{
    Label10->setText(countCaption(catalogue().itemCount()));
}
