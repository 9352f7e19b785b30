#include "windows/form2.h"

#include "windows/clickablelabel.h"

#include "windows/addonwindow.h"

using namespace Qt::StringLiterals;

namespace {

void makeLink(ClickableLabel *label)
{
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    label->setCursor(Qt::UpArrowCursor);
}

} // namespace

Form2::Form2(QWidget *parent) : FramelessWindow({3000, 2415}, Taskbar::Hidden, parent)
{
    setObjectName(u"Form2"_s);
    setWindowTitle(u"About Valdrin AIM Server v2"_s);
    setAttribute(Qt::WA_DeleteOnClose);

    Label1 = addLabel(u"Label1"_s, u"Valdrin AIM Server"_s, {30, 270, 2970, 195});
    Label2 = addLabel(u"Label2"_s, u"Coded Entirely By Morvex"_s, {0, 450, 2970, 195});
    addLine({60, 660, 2910, 660});
    Label7 = addLabel(u"Label7"_s,
                      u"Thank you for using Valdrin AIM Server. Add your favourite links, switch serving on, and "
                      u"every member of your chat room can ask for the list or for any item. Please serve "
                      u"responsibly."_s,
                      {90, 690, 2790, 975});
    addLine({60, 1680, 2910, 1680});
    Label8 = addLabel(u"Label8"_s, u"Please visit my site"_s, {60, 1710, 1320, 195});
    Label3 = addLabel(u"Label3"_s, u"Morvex's Programs"_s, {1680, 1710, 1230, 195});
    Label4 = addLabel(u"Label4"_s, u"Send me EMail"_s, {60, 1890, 1320, 195});
    Label6 = addLabel(u"Label6"_s, QString::fromUtf16(EmailAddress), {1440, 1890, 1440, 195});
    addLine({60, 2130, 2910, 2130});
    Label5 = addLabel(u"Label5"_s, u"Okay"_s, {120, 2160, 2685, 195});

    for (ClickableLabel *centred : {Label1, Label2, Label5})
        centred->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label7->setWordWrap(true);
    Label7->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    makeLink(Label3);
    makeLink(Label6);

    connect(Label3, &ClickableLabel::clicked, this, &Form2::Label3_Click);
    connect(Label6, &ClickableLabel::clicked, this, &Form2::Label6_Click);
    connect(Label5, &ClickableLabel::clicked, this, &Form2::Label5_Click);
    Form_Load();
}

void Form2::Form_Load()
{
    addon::StayOnTop(this);
}

void Form2::Label3_Click()
{
    addon::OpenDocument(QString::fromUtf16(WebPage), this);
}

void Form2::Label6_Click()
{
    addon::OpenDocument(u"mailto:"_s + QString::fromUtf16(EmailAddress), this);
}

void Form2::Label5_Click()
{
    close();
}
