#pragma once
#include <QImage>

#include "platform/gdi/bitmap.h"

namespace gdi {

// The bitmap as an image of its own (a copy, converted where Qt has no
// such layout).
QImage toQImage(const Bitmap& bmp);
// The bitmap for drawing it at once: where Qt has the same layout (32, 16,
// 24 and 8 bpp, rows top-down) an image over the bitmap's own rows, no
// copy, valid only while the bitmap lives and keeps its pixels; toQImage
// otherwise. A preview of a 1080p grab costs what it draws, not 8 MB.
QImage viewOf(const Bitmap& bmp);
// Only the part of the bitmap inside `part` (clipped to the bitmap), for a
// control that shows a large picture through a small window: a full-screen
// frame costs a copy of what shows, not of all of it.
QImage toQImage(const Bitmap& bmp, const QRect& part);

}  // namespace gdi
