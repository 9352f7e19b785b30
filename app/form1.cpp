#include "app/form1.h"

#include "app/listwidgetrows.h"

#include "catalogue/catalogue.h"
#include "catalogue/valdrinbas.h"
#include "platform/addonwindow.h"
#include "platform/messenger.h"
#include "serving/listpagebuilder.h"
#include "serving/servingengine.h"
#include "windows/clickablelabel.h"
#include "windows/operatormessages.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Positions on the window are kept in twips, 15 to a pixel at 96 dpi.
constexpr int twips(int value)
{
    return value / 15;
}

QRect twipRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}

// The caption of a switch control is its serving state.
template <typename Control>
class ControlCaption final : public SwitchCaption
{
public:
    explicit ControlCaption(Control *control) : m_control(control) {}
    [[nodiscard]] QString text() const override { return m_control->text(); }
    void setText(const QString &text) override { m_control->setText(text); }

private:
    Control *m_control;
};

template <typename Widget>
Widget *placed(Widget *widget, const QString &name, QRect geometry)
{
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

Form1::Form1(const DataFolder &folder, MorvexAIMOCX::AIM *messenger, QWidget *parent) : QWidget(parent)
{
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Valdrin AIM Server v2"_s);
    setFixedSize(twips(2985), twips(2415));

    AIM1 = messenger;
    AIM1->setParent(this);
    createControls();

    m_descriptionRows = std::make_unique<ListWidgetRows>(List1);
    m_addressRows = std::make_unique<ListWidgetRows>(List2);
    m_catalogue = std::make_unique<Catalogue>(*m_descriptionRows, *m_addressRows, folder);
    m_label2Caption = std::make_unique<ControlCaption<QLabel>>(Label2);
    m_command2Caption = std::make_unique<ControlCaption<QPushButton>>(Command2);
    m_engine = new ServingEngine(AIM1, *m_descriptionRows, *m_addressRows,
                                 {[this] { BuildList(); }, [this](const QString &text) {
                                      OperatorMessages::show(this, text);
                                  }},
                                 this);
    Timer1 = m_engine->timer();

    Form_Load();
    List1->setFocus();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    // Created in the window's own order, which is also the keyboard's order for
    // the controls that take the focus: List1, Text1, Command1, Command2,
    // Command3, List2, Text2.
    Text2 = placed(new QLineEdit(this), u"Text2"_s, twipRect(930, 1740, 1815, 195));
    List2 = placed(new QListWidget(this), u"List2"_s, twipRect(60, 750, 2835, 420));
    Command3 = placed(new QPushButton(u"build list"_s, this), u"Command3"_s, twipRect(2280, 4200, 1185, 255));
    Command2 = placed(new QPushButton(u"On"_s, this), u"Command2"_s, twipRect(630, 4200, 1185, 255));
    Command1 = placed(new QPushButton(u"A"_s, this), u"Command1"_s, twipRect(1890, 3870, 285, 285));
    Text1 = placed(new QLineEdit(this), u"Text1"_s, twipRect(930, 1530, 1815, 195));
    List1 = placed(new QListWidget(this), u"List1"_s, twipRect(60, 300, 2835, 420));
    Label10 = placed(new QLabel(Catalogue::countCaption(0), this), u"Label10"_s, twipRect(90, 1230, 2775, 195));
    Label9 = placed(new ClickableLabel(u"About"_s, this), u"Label9"_s, twipRect(2430, 2070, 465, 195));
    Label8 = placed(new ClickableLabel(u"Message"_s, this), u"Label8"_s, twipRect(1680, 2070, 675, 195));
    Label7 = placed(new ClickableLabel(u"_"_s, this), u"Label7"_s, twipRect(2670, -90, 105, 255));
    Label6 = placed(new ClickableLabel(u"X"_s, this), u"Label6"_s, twipRect(2820, 0, 135, 195));
    Label5 = placed(new ClickableLabel(u"A D D"_s, this), u"Label5"_s, twipRect(2760, 1500, 105, 465));
    Label1 = placed(new QLabel(u"Address:"_s, this), u"Label1"_s, twipRect(330, 1710, 615, 195));
    Label4 = placed(new QLabel(u"Description:"_s, this), u"Label4"_s, twipRect(90, 1500, 855, 195));
    Label3 = placed(new ClickableLabel(u"Build List"_s, this), u"Label3"_s, twipRect(3660, 3420, 645, 195));
    Label2 = placed(new ClickableLabel(u"On"_s, this), u"Label2"_s, twipRect(90, 2070, 345, 195));
    Label5->setWordWrap(true);
    for (QListWidget *list : {List1, List2})
        list->setUniformItemSizes(true);

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
}

void Form1::BuildList()
{
    ListPageBuilder::BuildList(*m_descriptionRows, ValdrinBas::ListPages);
}

void Form1::BuildList2()
{
    ListPageBuilder::BuildList2(ValdrinBas::ListPages);
}

void Form1::Label2_Click()
{
    m_engine->servingSwitch().Label2_Click(*m_label2Caption);
}

void Form1::Command2_Click()
{
    m_engine->servingSwitch().Command2_Click(*m_command2Caption);
}

void Form1::Timer1_Timer()
{
    m_engine->servingSwitch().Timer1_Timer();
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

bool Form1::addItemFromBoxes()
{
    const CatalogueEdit edit = m_catalogue->add(Text1->text(), Text2->text());
    if (edit.done) {
        Text1->setText(QString());
        Text2->setText(QString());
    }
    if (!edit.message.isEmpty())
        OperatorMessages::warnLater(this, edit.message);
    return edit.done;
}

void Form1::List1_Click()
{
    // Selecting the row a list already has raises nothing, so this cannot echo.
    List2->setCurrentRow(List1->currentRow());
}

void Form1::List2_Click()
{
    List1->setCurrentRow(List2->currentRow());
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
    const CatalogueEdit edit = m_catalogue->remove(List1->currentRow(), List2->currentRow());
    if (!edit.done)
        return;
    showItemCount();
    if (!edit.message.isEmpty())
        OperatorMessages::warnLater(this, edit.message);
}

void Form1::Label6_Click()
{
    close();
}

void Form1::Label7_Click()
{
    showMinimized();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!Form_Unload()) {
        event->ignore();
        return;
    }
    Timer1->stop();
    event->accept();
}

void Form1::Form_Load()
{
    addon::StayOnTop(this);
    const QStringList problems = m_catalogue->load();
    showItemCount();
    if (!problems.isEmpty()) {
        // Shown once the window is up, so the start is not held by a dialog.
        QTimer::singleShot(0, this, [this, problems] { OperatorMessages::warnLater(this, problems.join(u"\n\n")); });
    }
}

bool Form1::Form_Unload()
{
    if (m_catalogue->filesHeld()) {
        OperatorMessages::show(this, m_catalogue->save().error);
        return true;
    }
    for (;;) {
        const FileResult saved = m_catalogue->save();
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

void Form1::showItemCount()
{
    Label10->setText(Catalogue::countCaption(m_catalogue->itemCount()));
}
