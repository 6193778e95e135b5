#pragma once
#include <QImage>

#include "platform/gdi/bitmap.h"

namespace gdi {

// A view of the bitmap for drawing on the screen. Shares the pixels where
// Qt has the same layout (32, 16 and 8 bpp top-down); converts otherwise.
QImage toQImage(const Bitmap& bmp);
// Only the part of the bitmap inside `part` (clipped to the bitmap), for a
// control that shows a large picture through a small window: a full-screen
// frame costs a copy of what shows, not of all of it.
QImage toQImage(const Bitmap& bmp, const QRect& part);

}  // namespace gdi
