#include "windows/addonwindow.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <QWindow>

namespace {

// Where the window system offers no move of its own (no window manager, or a
// platform that refuses), the window follows the mouse until the button is released.
class MouseFollower final : public QObject
{
public:
    explicit MouseFollower(QWidget *window)
        : QObject(window), m_window(window), m_offset(QCursor::pos() - window->pos())
    {
        setObjectName(name());
        qApp->installEventFilter(this);
    }

    // Found by name: without a meta-object of its own, a lookup by type would
    // take any child object for a follower.
    static QString name() { return QStringLiteral("addon-mouse-follower"); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove:
            m_window->move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - m_offset);
            return false;
        case QEvent::MouseButtonRelease:
            qApp->removeEventFilter(this);
            setParent(nullptr); // done: a press right after starts a new move
            deleteLater();
            return false;
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    QWidget *m_window;
    QPoint m_offset;
};

} // namespace

namespace addon {

void FormDrag(QWidget *window)
{
    if (!window)
        return;
    QWidget *top = window->window();
    if (QWindow *handle = top->windowHandle(); handle && handle->startSystemMove())
        return;
    if (!top->findChild<QObject *>(MouseFollower::name(), Qt::FindDirectChildrenOnly))
        new MouseFollower(top);
}

void StayOnTop(QWidget *window)
{
    if (!window)
        return;
    QWidget *top = window->window();
    if (top->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    // Changing a window's flags hides it; show it again if it was on screen.
    const bool wasVisible = top->isVisible();
    top->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (wasVisible)
        top->show();
}

void OpenDocument(const QString &target, QWidget *window)
{
    Q_UNUSED(window);
    QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

} // namespace addon
