#pragma once

#include <QPointer>
#include <QWidget>

class LocalRoom;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTextBrowser;

// The local room's own window, the stand-in for a messenger client: shows the
// room, lets the operator post a line under any member name, shows what each
// member received, and can leave the room or shut the messenger down.
class LocalRoomWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit LocalRoomWindow(LocalRoom *room, QWidget *parent = nullptr);

    // Turns the CR line breaks of a chat text into line breaks on screen.
    [[nodiscard]] static QString displayHtml(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void postLine();
    void appendRoomLine(const QString &sender, const QString &text);
    void showMessagesOf(const QString &member);
    void noteMessage(const QString &member, const QString &text);
    void refreshState();

    QPointer<LocalRoom> m_room;
    QTextBrowser *m_roomView;
    QLineEdit *m_memberName;
    QLineEdit *m_lineText;
    QPushButton *m_postButton;
    QListWidget *m_members;
    QTextBrowser *m_messagesView;
    QPushButton *m_roomButton;
    QPushButton *m_runningButton;
};
