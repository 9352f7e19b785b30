#pragma once

#include "windows/framelesswindow.h"

#include "serving/servermessage.h"

class QPlainTextEdit;

// The server message editor: "Save" writes message.txt, makes the text the
// server message, and closes the window.
class Form3 final : public FramelessWindow
{
    Q_OBJECT

public:
    explicit Form3(ServerMessageFile message, QWidget *parent = nullptr);

    // The text a new editor starts with when no server message is set.
    [[nodiscard]] static QString initialText();
    // The text as it is saved: the editor's text with CR LF line breaks, or the
    // message it was opened with when the operator has not changed it.
    [[nodiscard]] QString text() const;

    QPlainTextEdit *Text1 = nullptr;
    ClickableLabel *Label1 = nullptr;

    void Label1_Click();

private:
    void Form_Load();

    ServerMessageFile m_message;
    // The message the editor was opened with, and how the edit box showed it.
    QString m_opened;
    QString m_shown;
};
