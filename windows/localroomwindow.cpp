#include "windows/localroomwindow.h"

#include "messengers/localroom/localroom.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextBrowser>

using namespace Qt::StringLiterals;

LocalRoomWindow::LocalRoomWindow(LocalRoom *room, QWidget *parent)
    : QWidget(parent), m_room(room), m_roomView(new QTextBrowser(this)), m_memberName(new QLineEdit(this)),
      m_lineText(new QLineEdit(this)), m_postButton(new QPushButton(u"Post"_s, this)), m_members(new QListWidget(this)),
      m_messagesView(new QTextBrowser(this)), m_roomButton(new QPushButton(this)),
      m_runningButton(new QPushButton(this))
{
    setObjectName(u"LocalRoomWindow"_s);
    setWindowTitle(u"Local chat room"_s);
    resize(620, 480);

    m_roomView->setOpenExternalLinks(true);
    m_messagesView->setOpenExternalLinks(true);
    m_memberName->setPlaceholderText(u"member name"_s);
    m_memberName->setText(u"Guest"_s);
    m_lineText->setPlaceholderText(u"/%1 send list"_s.arg(room->ScreenName()));
    m_members->setMaximumWidth(160);

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(u"Room (the program is \"%1\")"_s.arg(room->ScreenName().toHtmlEscaped()), this), 0, 0,
                      1, 3);
    layout->addWidget(m_roomView, 1, 0, 1, 3);
    layout->addWidget(m_memberName, 2, 0);
    layout->addWidget(m_lineText, 2, 1);
    layout->addWidget(m_postButton, 2, 2);
    layout->addWidget(new QLabel(u"Instant messages received by:"_s, this), 3, 0, 1, 3);
    layout->addWidget(m_members, 4, 0);
    layout->addWidget(m_messagesView, 4, 1, 1, 2);
    layout->addWidget(m_roomButton, 5, 0);
    layout->addWidget(m_runningButton, 5, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(1, 2);
    layout->setRowStretch(4, 1);

    connect(m_postButton, &QPushButton::clicked, this, &LocalRoomWindow::postLine);
    connect(m_lineText, &QLineEdit::returnPressed, this, &LocalRoomWindow::postLine);
    connect(m_members, &QListWidget::currentTextChanged, this, &LocalRoomWindow::showMessagesOf);
    connect(m_roomButton, &QPushButton::clicked, this, [this] {
        if (m_room)
            m_room->setInRoom(m_room->ChatRoom() == 0);
    });
    connect(m_runningButton, &QPushButton::clicked, this, [this] {
        if (m_room)
            m_room->setRunning(!m_room->IsRunning());
    });
    connect(room, &LocalRoom::roomLineAdded, this,
            [this](const LocalRoom::Line &line) { appendRoomLine(line.sender, line.text); });
    connect(room, &LocalRoom::messageSent, this, &LocalRoomWindow::noteMessage);
    connect(room, &LocalRoom::stateChanged, this, &LocalRoomWindow::refreshState);
    connect(room, &QObject::destroyed, this, &LocalRoomWindow::refreshState);

    for (const LocalRoom::Line &line : room->roomLines())
        appendRoomLine(line.sender, line.text);
    refreshState();
}

QString LocalRoomWindow::displayHtml(const QString &text)
{
    QString html = text;
    html.replace(u"\r\n"_s, u"<br>"_s).replace(u'\r', u"<br>"_s).replace(u'\n', u"<br>"_s);
    return html;
}

void LocalRoomWindow::closeEvent(QCloseEvent *event)
{
    // Closing the client's window is the messenger shutting down.
    if (m_room)
        m_room->setRunning(false);
    event->accept();
}

void LocalRoomWindow::showEvent(QShowEvent *event)
{
    if (m_room)
        m_room->setRunning(true);
    QWidget::showEvent(event);
}

void LocalRoomWindow::postLine()
{
    const QString member = m_memberName->text().trimmed();
    if (!m_room || member.isEmpty() || m_lineText->text().isEmpty())
        return;
    m_room->post(member, m_lineText->text());
    m_lineText->clear();
}

void LocalRoomWindow::appendRoomLine(const QString &sender, const QString &text)
{
    m_roomView->append(u"<b>"_s % sender.toHtmlEscaped() % u":</b> "_s % displayHtml(text));
}

void LocalRoomWindow::noteMessage(const QString &member, const QString &text)
{
    if (m_members->findItems(member, Qt::MatchExactly).isEmpty())
        m_members->addItem(member);
    if (!m_members->currentItem())
        m_members->setCurrentRow(m_members->count() - 1); // shows this member's messages
    else if (m_members->currentItem()->text() == member)
        m_messagesView->append(displayHtml(text) % u"<hr>"_s);
}

void LocalRoomWindow::showMessagesOf(const QString &member)
{
    m_messagesView->clear();
    if (!m_room)
        return;
    const QStringList messages = m_room->messagesTo(member);
    for (const QString &message : messages)
        m_messagesView->append(displayHtml(message) % u"<hr>"_s);
}

void LocalRoomWindow::refreshState()
{
    const bool running = m_room && m_room->IsRunning();
    const bool inRoom = running && m_room->ChatRoom() != 0;
    m_runningButton->setText(running ? u"Shut Down Messenger"_s : u"Start Messenger"_s);
    m_runningButton->setEnabled(m_room);
    m_roomButton->setText(inRoom ? u"Leave Room"_s : u"Enter Room"_s);
    m_roomButton->setEnabled(running);
    m_postButton->setEnabled(inRoom);
}
