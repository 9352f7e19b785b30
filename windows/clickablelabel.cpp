#include "windows/clickablelabel.h"

#include <QMouseEvent>

ClickableLabel::ClickableLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ClickableLabel::mousePressEvent(QMouseEvent *event)
{
    event->accept(); // the window behind must not start a move
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}
