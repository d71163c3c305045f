#pragma once

#include "Graphics.h"

#include <QImage>
#include <QPixmap>
#include <QSharedPointer>

// A bitmap in two forms: the pixmap that painters use, and an ARGB32 (non-premultiplied)
// image for pixel access. Exactly one is authoritative: the image when it is not null,
// otherwise the pixmap. Painters on the bitmap hold shares of the pixmap.
class BitmapContainer : public VMBitmap {
public:
    BitmapContainer(int width, int height);
    explicit BitmapContainer(const QPixmap& pixels);
    explicit BitmapContainer(const BitmapContainer& other);
    BitmapContainer& operator=(const BitmapContainer&) = delete;

    // Makes this an independent copy of other.
    void assign(const BitmapContainer& other);
    // The image becomes authoritative.
    void ensureImage();
    // The pixmap becomes authoritative; returns a share of it.
    QSharedPointer<QPixmap> sharedPixmap();
    // The pixel cache; null while the pixmap is authoritative.
    const QImage& cachedImage() const { return image; }

    bool encode(Vec<TUint8>& out, const char* format) override;
    void scaleFrom(VMBitmap* source, TInt32 mode) override;
    void copyFrom(VMBitmap* source, TInt32 x, TInt32 y, TInt32 width, TInt32 height) override;
    void fill(TUint32 colour) override;
    TUint32 pixel(TInt32 x, TInt32 y) override;
    void setPixel(TInt32 x, TInt32 y, TUint32 colour) override;
    void size(TInt32& width, TInt32& height) override;
    int getContentSize() const override;

private:
    QSharedPointer<QPixmap> pixmap;
    QImage image;
};

// A colour word as a Qt colour.
QColor toQColor(TUint32 colour);
