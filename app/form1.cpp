#include "app/form1.h"

#include "app/listwidgetrows.h"

#include "catalogue/catalogue.h"
#include "catalogue/valdrinbas.h"
#include "platform/addonwindow.h"
#include "serving/listpagebuilder.h"
#include "windows/operatormessages.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
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

} // namespace

Form1::Form1(const DataFolder &folder, QWidget *parent) : QWidget(parent)
{
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Valdrin AIM Server v2"_s);
    setFixedSize(twips(2985), twips(2415));

    List1 = new QListWidget(this);
    List1->setObjectName(u"List1"_s);
    List1->setGeometry(twipRect(60, 300, 2835, 420));
    List1->setUniformItemSizes(true);

    List2 = new QListWidget(this);
    List2->setObjectName(u"List2"_s);
    List2->setGeometry(twipRect(60, 750, 2835, 420));
    List2->setUniformItemSizes(true);

    Label10 = new QLabel(Catalogue::countCaption(0), this);
    Label10->setObjectName(u"Label10"_s);
    Label10->setGeometry(twipRect(90, 1230, 2775, 195));

    m_descriptionRows = std::make_unique<ListWidgetRows>(List1);
    m_addressRows = std::make_unique<ListWidgetRows>(List2);
    m_catalogue = std::make_unique<Catalogue>(*m_descriptionRows, *m_addressRows, folder);

    Form_Load();
    List1->setFocus();
}

Form1::~Form1() = default;

void Form1::BuildList()
{
    ListPageBuilder::BuildList(*m_descriptionRows, ValdrinBas::ListPages);
}

void Form1::BuildList2()
{
    ListPageBuilder::BuildList2(ValdrinBas::ListPages);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (Form_Unload())
        event->accept();
    else
        event->ignore();
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
