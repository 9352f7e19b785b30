#pragma once

#include "windows/framelesswindow.h"

#include "serving/cataloguechange.h"
#include "serving/servermessage.h"

#include <functional>

class QPlainTextEdit;

// The server message editor: "Save" writes message.txt, makes the text the
// server message, and closes the window.
class Form3 final : public FramelessWindow
{
    Q_OBJECT

public:
    // Sets the message as every change of the catalogue is made (under the
    // data folder's lock, checked, saved); the main window's runs on its catalogue.
    using Saver = std::function<CatalogueChange::Outcome(const QString &text)>;

    // Without a saver, the message is set on the message file's folder alone.
    explicit Form3(ServerMessageFile message, Saver save = {}, QWidget *parent = nullptr);

    // Sets the message with no catalogue at hand (no main window).
    [[nodiscard]] static CatalogueChange::Outcome setAlone(const ServerMessageFile &message, const QString &text);

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
    Saver m_save;
    // The message the editor was opened with, and how the edit box showed it.
    QString m_opened;
    QString m_shown;
};
