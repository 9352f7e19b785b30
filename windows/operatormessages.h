#pragma once

#include <QString>

#include <functional>

class QWidget;

// The message boxes the operator reads, all under the program's own title.
class OperatorMessages final
{
public:
    // What the operator chose after the catalogue could not be saved at close.
    enum class SaveChoice { Retry, CloseWithoutSaving, KeepOpen };

    // The title of every message box: "Valdrin AIM Server v2 By Morvex".
    [[nodiscard]] static QString title();

    // A modal box with an OK button alone; returns when it is closed.
    static void show(QWidget *parent, const QString &text);

    // A warning that does not stop the program: the box stays until the operator closes it.
    static void warnLater(QWidget *parent, const QString &text);

    // Asks what to do when the catalogue could not be written as the window closes.
    // Without `canRetry` (trying again cannot help) there is no Try Again.
    [[nodiscard]] static SaveChoice askAfterFailedSave(QWidget *parent, const QString &error, bool canRetry = true);

    // Shows rows without a partner in the other list file and offers to remove
    // them; `remove` runs if the operator chooses that. The box does not stop the program.
    static void offerToRemoveUnmatchedRows(QWidget *parent, const QString &text, std::function<void()> remove);
};
