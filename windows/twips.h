#pragma once

#include <QLine>
#include <QRect>

// The windows are laid out in twips, 1/1440 inch: 15 to a pixel at 96 dpi.
// Qt scales these pixels on high-density screens.
namespace Twips {

constexpr int PerPixel = 15;

constexpr int toPixels(int twips)
{
    return twips / PerPixel;
}

constexpr QRect rect(int left, int top, int width, int height)
{
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}

constexpr QLine line(int x1, int y1, int x2, int y2)
{
    return {toPixels(x1), toPixels(y1), toPixels(x2), toPixels(y2)};
}

} // namespace Twips
