#include "windows/framelesswindow.h"

#include "windows/clickablelabel.h"
#include "windows/twips.h"

#include "windows/addonwindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

using namespace Qt::StringLiterals;

namespace {

// The background colour under the picture: red 1, green 0, blue 66.
constexpr QColor BackgroundColour(1, 0, 66);

// The program's windows alive now, and whether the last one to go ends the program.
int openWindows = 0;
bool endWithLastWindow = false;

const QPixmap &backgroundPicture()
{
    static const QPixmap picture(u":/artwork/background.png"_s);
    return picture;
}

} // namespace

FramelessWindow::FramelessWindow(QSize clientTwips, Taskbar taskbar, QWidget *parent) : QWidget(parent)
{
    Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint;
    if (taskbar == Taskbar::Hidden)
        flags |= Qt::Tool;
    setWindowFlags(flags);
    setFixedSize(Twips::toPixels(clientTwips.width()), Twips::toPixels(clientTwips.height()));
    setFont(sansSerifFont());
    QPalette colours = palette();
    colours.setColor(QPalette::Window, BackgroundColour);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    ++openWindows;
}

FramelessWindow::~FramelessWindow()
{
    if (--openWindows == 0 && endWithLastWindow)
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void FramelessWindow::endProgramWithLastWindow()
{
    // Qt's own rule counts only windows with a taskbar button, and would end
    // the program with the main window while the editor is still open.
    QApplication::setQuitOnLastWindowClosed(false);
    endWithLastWindow = true;
}

QFont FramelessWindow::sansSerifFont()
{
    QFont font;
    font.setFamilies(
        {u"MS Sans Serif"_s, u"Microsoft Sans Serif"_s, u"Liberation Sans"_s, u"Arial"_s, u"DejaVu Sans"_s});
    font.setPointSizeF(8.25);
    // The substitutes are wider than the original at the same size; narrowed a
    // little, the captions fit the places the layout gives them.
    static const bool original =
        QFontDatabase::hasFamily(u"MS Sans Serif"_s) || QFontDatabase::hasFamily(u"Microsoft Sans Serif"_s);
    if (!original)
        font.setStretch(85);
    return font;
}

QFont FramelessWindow::arialFont(double points, bool bold)
{
    QFont font;
    font.setFamilies({u"Arial"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

ClickableLabel *FramelessWindow::addLabel(const QString &name, const QString &text, QRect twips)
{
    auto *label = new ClickableLabel(text, this);
    label->setObjectName(name);
    label->setGeometry(Twips::rect(twips.x(), twips.y(), twips.width(), twips.height()));
    return label;
}

void FramelessWindow::addLine(QLine twips)
{
    m_lines.append(Twips::line(twips.x1(), twips.y1(), twips.x2(), twips.y2()));
}

void FramelessWindow::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.fillRect(rect(), BackgroundColour);
    painter.drawPixmap(0, 0, backgroundPicture());
    painter.setPen(Qt::white);
    painter.drawLines(m_lines);
}

void FramelessWindow::mousePressEvent(QMouseEvent *event)
{
    // Only the background moves the window (the lines take no input): a press
    // that a list or box passed on to its window does not.
    event->accept();
    if (childAt(event->position().toPoint()))
        return;
    Q_EMIT backgroundPressed();
    addon::FormDrag(this);
}
