#pragma once

#include <QList>
#include <QWidget>

class ClickableLabel;
class QFont;

// The look all three windows share: no frame, the background picture with its
// drawn title strip, white separator lines, white labels that act as buttons,
// and a move of the window by pressing anywhere on its background.
class FramelessWindow : public QWidget
{
    Q_OBJECT

public:
    // A window with a taskbar button (the main window) or without one.
    enum class Taskbar { Shown, Hidden };

    FramelessWindow(QSize clientTwips, Taskbar taskbar, QWidget *parent = nullptr);
    ~FramelessWindow() override;

    // From now on the program ends when the last of its windows has closed,
    // whichever it is: the About window and the editor keep it running after
    // the main window has gone.
    static void endProgramWithLastWindow();

    // The fonts of the windows, with close substitutes where the originals are missing.
    [[nodiscard]] static QFont sansSerifFont();
    [[nodiscard]] static QFont arialFont(double points, bool bold);

    // The separator lines, in pixels, as drawn.
    [[nodiscard]] const QList<QLine> &lines() const { return m_lines; }

Q_SIGNALS:
    // The background was pressed and the window is being moved with the mouse.
    void backgroundPressed();

protected:
    // A white, transparent label at a place given in twips.
    ClickableLabel *addLabel(const QString &name, const QString &text, QRect twips);
    // A white line between two points given in twips; it takes no mouse input.
    void addLine(QLine twips);

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QList<QLine> m_lines;
};
