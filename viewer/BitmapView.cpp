#include "viewer/BitmapView.h"

#include <QColor>
#include <QList>

#include "imaging/BMPExtImage.h"

QImage BitmapView(const TExtBitmap& bitmap)
{
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0)
        return {};
    switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit: {
        QImage view(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.BytesPerRow(), QImage::Format_Indexed8);
        QList<QRgb> table(256);
        const auto& pal = bitmap.Palette();
        for (int i = 0; i < 256; ++i)
            table[i] = qRgb(pal[i].Red, pal[i].Green, pal[i].Blue);
        view.setColorTable(table);
        return view;
    }
    case TPixelFormat::pf24bit:
        return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.BytesPerRow(), QImage::Format_BGR888);
    case TPixelFormat::pf32bit:
        return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.BytesPerRow(), QImage::Format_RGB32);
    }
    return {};
}
