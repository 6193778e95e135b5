#pragma once
#include <QImage>

#include "platform/gdi/bitmap.h"

namespace gdi {

// A view of the bitmap for drawing on the screen. Shares the pixels where
// Qt has the same layout (32, 16 and 8 bpp top-down); converts otherwise.
QImage toQImage(const Bitmap& bmp);

}  // namespace gdi
