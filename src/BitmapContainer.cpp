#include "BitmapContainer.h"

#include "ErrorHandling.h"

#include <QBuffer>
#include <QColor>

QColor toQColor(TUint32 colour) {
    QColor c;
    c.setRgb(int(colour >> 16 & 0xFF), int(colour >> 8 & 0xFF), int(colour & 0xFF),
             int(colour >> 24));
    return c;
}

BitmapContainer::BitmapContainer(int width, int height)
    : pixmap(QSharedPointer<QPixmap>::create(width, height)) {}

BitmapContainer::BitmapContainer(const QPixmap& pixels)
    : pixmap(QSharedPointer<QPixmap>::create(pixels)) {}

BitmapContainer::BitmapContainer(const BitmapContainer& other) : VMBitmap() {
    assign(other);
}

void BitmapContainer::assign(const BitmapContainer& other) {
    if (&other == this) return;
    if (!other.image.isNull())
        pixmap = QSharedPointer<QPixmap>::create(QPixmap::fromImage(other.image, Qt::AutoColor));
    else
        pixmap = QSharedPointer<QPixmap>::create(other.pixmap ? other.pixmap->copy() : QPixmap());
    image = QImage();
}

void BitmapContainer::ensureImage() {
    if (!image.isNull()) return;
    image = pixmap->toImage().convertToFormat(QImage::Format_ARGB32, Qt::AutoColor);
}

QSharedPointer<QPixmap> BitmapContainer::sharedPixmap() {
    if (!image.isNull()) {
        pixmap = QSharedPointer<QPixmap>::create(QPixmap::fromImage(image, Qt::AutoColor));
        image = QImage();
    }
    return pixmap;
}

bool BitmapContainer::encode(Vec<TUint8>& out, const char* format) {
    if (pixmap->isNull()) return false;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const char* name = format && *format ? format : nullptr;
    // An empty name would let Qt pick a format from the device; the request is refused instead.
    const bool saved =
        name && (!image.isNull() ? image.save(&buffer, name, -1) : pixmap->save(&buffer, name, -1));
    const QByteArray& bytes = buffer.data();
    if (!bytes.isEmpty()) {
        out.resize(int(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(out.data()));
    }
    return saved;
}

void BitmapContainer::scaleFrom(VMBitmap* source, TInt32 mode) {
    auto* from = dynamic_cast<BitmapContainer*>(source);
    if (!from || from->pixmap->isNull()) return;
    const QSize target = pixmap->size();
    const Qt::TransformationMode how =
        mode == 10 ? Qt::SmoothTransformation : Qt::FastTransformation;
    QPixmap scaled =
        !from->image.isNull()
            ? QPixmap::fromImage(from->image.scaled(target, Qt::IgnoreAspectRatio, how))
            : from->pixmap->scaled(target, Qt::IgnoreAspectRatio, how);
    pixmap = QSharedPointer<QPixmap>::create(std::move(scaled));
    image = QImage();
}

void BitmapContainer::copyFrom(VMBitmap* source, TInt32 x, TInt32 y, TInt32 width, TInt32 height) {
    auto* from = dynamic_cast<BitmapContainer*>(source);
    if (!from || from->pixmap->isNull() || pixmap->isNull()) return;
    const QRect rect(QPoint(x, y), QSize(width, height));
    QPixmap copied = !from->image.isNull() ? QPixmap::fromImage(from->image.copy(rect))
                                           : from->pixmap->copy(rect);
    pixmap = QSharedPointer<QPixmap>::create(std::move(copied));
    image = QImage();
}

void BitmapContainer::fill(TUint32 colour) {
    if (colour >> 24 == 0xFF) {
        sharedPixmap()->fill(toQColor(colour));
        return;
    }
    ensureImage();
    image.fill(colour);
}

TUint32 BitmapContainer::pixel(TInt32 x, TInt32 y) {
    ensureImage();
    return image.pixel(x, y);
}

void BitmapContainer::setPixel(TInt32 x, TInt32 y, TUint32 colour) {
    ensureImage();
    image.setPixel(x, y, colour);
}

void BitmapContainer::size(TInt32& width, TInt32& height) {
    width = pixmap->width();
    height = pixmap->height();
    if (width < 0 || height < 0) raise(KErrInvalidArgument);
}

int BitmapContainer::getContentSize() const {
    return pixmap->width() * pixmap->height() * 4 + int(image.sizeInBytes());
}
