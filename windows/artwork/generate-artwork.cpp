// Draws the windows' shared background picture and the program icon.
// Run: build/dev/windows/artwork/valdrin-artwork windows/artwork
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr QSize BackgroundSize(200, 161);
constexpr int TitleStripHeight = 16;

QImage background()
{
    QImage image(BackgroundSize, QImage::Format_RGB888);
    QPainter painter(&image);

    // Below the strip: bright blue at the top fading to black at the bottom.
    QLinearGradient fade(0, TitleStripHeight, 0, BackgroundSize.height());
    fade.setColorAt(0, QColor(32, 84, 255));
    fade.setColorAt(1, QColor(0, 0, 0));
    painter.fillRect(0, TitleStripHeight, BackgroundSize.width(), BackgroundSize.height() - TitleStripHeight, fade);

    // The title strip, with the program's name in light letters.
    QLinearGradient strip(0, 0, 0, TitleStripHeight);
    strip.setColorAt(0, QColor(28, 60, 190));
    strip.setColorAt(1, QColor(12, 36, 150));
    painter.fillRect(0, 0, BackgroundSize.width(), TitleStripHeight, strip);
    QFont title;
    title.setFamilies({u"Liberation Sans"_s, u"Arial"_s, u"DejaVu Sans"_s});
    title.setPixelSize(11);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(230, 236, 255));
    painter.drawText(QRect(5, 0, 160, TitleStripHeight), Qt::AlignLeft | Qt::AlignVCenter, u"Valdrin AIM Server v2"_s);
    painter.setPen(QColor(8, 20, 90));
    painter.drawLine(0, TitleStripHeight - 1, BackgroundSize.width() - 1, TitleStripHeight - 1);

    // A light frame line along the top and left edges.
    painter.setPen(QColor(190, 206, 255));
    painter.drawLine(0, 0, BackgroundSize.width() - 1, 0);
    painter.drawLine(0, 0, 0, BackgroundSize.height() - 1);
    return image;
}

QImage icon()
{
    QImage image(32, 32, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient fade(0, 0, 0, 32);
    fade.setColorAt(0, QColor(32, 84, 255));
    fade.setColorAt(1, QColor(0, 0, 40));
    painter.fillRect(image.rect(), fade);
    painter.setRenderHint(QPainter::Antialiasing);
    // Two chain links: a link server.
    QPen pen(QColor(235, 240, 255), 3.2);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.translate(16, 16);
    painter.rotate(-45);
    painter.drawRoundedRect(QRectF(-13, -5, 15, 10), 5, 5);
    painter.drawRoundedRect(QRectF(-2, -5, 15, 10), 5, 5);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"."_s;
    const bool saved = background().save(folder + u"/background.png"_s) && icon().save(folder + u"/icon.png"_s);
    if (!saved)
        std::fprintf(stderr, "Could not write the pictures into %s\n", qPrintable(folder));
    return saved ? 0 : 1;
}
