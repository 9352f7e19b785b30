#include "windows/form3.h"

#include "windows/clickablelabel.h"
#include "windows/operatormessages.h"
#include "windows/twips.h"

#include "serving/valdrinbas.h"
#include "platform/addon.h"
#include "platform/addonwindow.h"

#include <QPlainTextEdit>

using namespace Qt::StringLiterals;

Form3::Form3(ServerMessageFile message, QWidget *parent)
    : FramelessWindow({3015, 2415}, Taskbar::Hidden, parent), m_message(std::move(message))
{
    setObjectName(u"Form3"_s);
    setWindowTitle(u"Server Message"_s);
    setAttribute(Qt::WA_DeleteOnClose);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(u"Text1"_s);
    Text1->setGeometry(Twips::rect(60, 270, 2895, 1815));
    Text1->setFrameShape(QFrame::Box);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setPlainText(initialText());
    Label1 = addLabel(u"Label1"_s, u"Save"_s, {60, 2100, 2835, 195});
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    connect(Label1, &ClickableLabel::clicked, this, &Form3::Label1_Click);

    Form_Load();
    Text1->setFocus();
}

QString Form3::initialText()
{
    return u"Please scan everything. If you \r\nwould like to add to the server \r\n"
           u"please IM me with the URL and the descrption.\r\n"_s;
}

QString Form3::text() const
{
    // The edit box keeps its lines apart with LF; the message has CR LF between them.
    QString text = Text1->toPlainText();
    text.replace(u'\n', u"\r\n"_s);
    return text;
}

void Form3::Form_Load()
{
    addon::StayOnTop(this);
    if (!ValdrinBas::ServerMessage.isEmpty())
        Text1->setPlainText(ValdrinBas::ServerMessage);
}

void Form3::Label1_Click()
{
    // Only a message that reached the disk becomes the server message.
    const FileResult written = m_message.save(text());
    if (!written.ok()) {
        OperatorMessages::show(this, u"The server message was not saved.\n\n%1\n\nThe text stays in the editor; "
                                     u"free some disk space or fix the folder's permissions, then save again."_s
                                         .arg(written.error));
        return;
    }
    close();
}
