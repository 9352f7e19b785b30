#include "windows/form3.h"

#include "windows/clickablelabel.h"
#include "windows/operatormessages.h"
#include "windows/twips.h"

#include "catalogue/catalogue.h"
#include "platform/addon.h"
#include "platform/rowlist.h"
#include "windows/addonwindow.h"

#include <QPlainTextEdit>

using namespace Qt::StringLiterals;

namespace {

// How long Save waits for a catalogue command to finish its own change.
constexpr int LockWaitMs = 2000;

} // namespace

Form3::Form3(ServerMessageFile message, Saver save, QWidget *parent)
    : FramelessWindow({3015, 2415}, Taskbar::Hidden, parent), m_message(std::move(message)), m_save(std::move(save))
{
    if (!m_save)
        m_save = [message = m_message](const QString &text) { return setAlone(message, text); };
    setObjectName(u"Form3"_s);
    setWindowTitle(u"Server Message"_s);
    setAttribute(Qt::WA_DeleteOnClose);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(u"Text1"_s);
    Text1->setGeometry(Twips::rect(60, 270, 2895, 1815));
    Text1->setFrameShape(QFrame::Box);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_opened = initialText();
    Label1 = addLabel(u"Label1"_s, u"Save"_s, {60, 2100, 2835, 195});
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    connect(Label1, &ClickableLabel::clicked, this, &Form3::Label1_Click);

    Form_Load();
    Text1->setFocus();
}

CatalogueChange::Outcome Form3::setAlone(const ServerMessageFile &message, const QString &text)
{
    // Under the lock all the same, so that a catalogue command setting the
    // message at the same moment is not overwritten halfway.
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue none(descriptions, addresses, message.folder());
    return CatalogueChange::apply({none, message}, CatalogueChange::SetMessage{text}, LockWaitMs);
}

QString Form3::initialText()
{
    return u"Please scan everything. If you \r\nwould like to add to the server \r\n"
           u"please IM me with the URL and the descrption.\r\n"_s;
}

QString Form3::text() const
{
    // Untouched, the editor holds the message it was opened with, byte for byte
    // (line breaks of any kind and all).
    QString text = Text1->document()->toRawText();
    if (text == m_shown)
        return m_opened;
    // The raw text keeps non-breaking spaces, which the plain text would turn into
    // spaces; the edit box keeps its lines apart as paragraphs, the message with CR LF.
    text.replace(QChar::ParagraphSeparator, u"\r\n"_s);
    text.replace(QChar::LineSeparator, u"\r\n"_s);
    return text;
}

void Form3::Form_Load()
{
    addon::StayOnTop(this);
    if (!m_message.current().isEmpty())
        m_opened = m_message.current();
    Text1->setPlainText(m_opened);
    m_shown = Text1->document()->toRawText();
}

void Form3::Label1_Click()
{
    // Only a message that reached the disk becomes the server message.
    const CatalogueChange::Outcome outcome = m_save(text());
    if (outcome.result == CatalogueChange::Outcome::Result::FilesFailed) {
        OperatorMessages::show(
            this, u"The server message was not saved.\n\n%1\n\nThe text stays in the editor; "
                  u"free some disk space or fix the folder's permissions, then save again."_s.arg(outcome.told));
        return;
    }
    if (!outcome.changed()) {
        OperatorMessages::show(this, u"%1\n\nThe text stays in the editor."_s.arg(outcome.told));
        return;
    }
    // Saved: a word on the replies it makes too long goes to the main window's owner.
    if (!outcome.notes.isEmpty())
        OperatorMessages::warnLater(nullptr, outcome.notes);
    close();
}
