#pragma once

#include <QString>

class QWidget;

// The window routines of addon: the program's windows have no frame, so they
// are moved by their background and kept above the other windows by these.
namespace addon {

// Moves the window with the mouse until the button that was just pressed is released.
void FormDrag(QWidget *window);

// Keeps the window above all others for as long as it lives.
void StayOnTop(QWidget *window);

// Opens a web address or a mailto: link with the desktop's program for it.
// Nothing is reported when no program opens it.
void OpenDocument(const QString &target, QWidget *window);

} // namespace addon
