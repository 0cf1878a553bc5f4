#pragma once
// A QImage that looks at a TExtBitmap's own pixel memory, so the window can paint the live
// composites without copying 9 MB per repaint. The view is only valid while the bitmap
// keeps its size and format.

#include <QImage>

class TExtBitmap;

QImage BitmapView(const TExtBitmap& bitmap);
