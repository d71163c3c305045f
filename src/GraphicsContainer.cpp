#include "GraphicsContainer.h"

#include "BitmapContainer.h"
#include "ErrorHandling.h"
#include "NativeFont.h"
#include "ZarnokFont.h"

#include <QtDebug>

#include <algorithm>

namespace {

double fromFixed(TInt64 value) {
    return double(value) / 4294967296.0;
}

// Far corners are formed in 64 bits and kept inside int, so no argument can overflow them.
int clamped(TInt64 value) {
    return int(std::clamp<TInt64>(value, INT32_MIN, INT32_MAX));
}

// Qt's rectangle with corners (x, y) and (x + w - 1, y + h - 1).
QRect corners(GraphicsRect r) {
    return QRect(QPoint(r.x, r.y),
                 QPoint(clamped(TInt64(r.x) + r.width - 1), clamped(TInt64(r.y) + r.height - 1)));
}

// Qt 6's pen for a colour is one pixel wide; width 0 is the cosmetic one-pixel line.
QPen cosmeticPen(TUint32 colour) {
    QPen pen(toQColor(colour));
    pen.setWidth(0);
    return pen;
}

} // namespace

GraphicsContainer::GraphicsContainer(QPaintDevice* target) : device(target) {
    begin();
}

GraphicsContainer::GraphicsContainer(BitmapContainer& bitmap) {
    TInt32 width = 0, height = 0;
    bitmap.size(width, height);
    if (TInt64(width) * height == 0) raise(KErrVM, "GraphicsContainer: invalid bitmap");
    pixmap = bitmap.sharedPixmap();
    device = pixmap.data();
    begin();
}

GraphicsContainer::~GraphicsContainer() {
    end();
}

void GraphicsContainer::begin() {
    // A device that another painter holds (a forged handle can arrange that) leaves this one
    // ended: it then draws nothing.
    if (!painter.isActive() && !painter.begin(device)) {
        device = nullptr;
        pixmap.reset();
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(40);
    painter.setFont(font);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void GraphicsContainer::end() {
    if (!device) return;
    painter.end();
    device = nullptr;
    pixmap.reset();
}

void GraphicsContainer::applyOpacity(TInt32 opacity) {
    if (opacity != 255) painter.setOpacity(opacity / 255.0);
}

QSharedPointer<QPixmap> GraphicsContainer::sourcePixmap(VMBitmap* bitmap) {
    auto* source = dynamic_cast<BitmapContainer*>(bitmap);
    if (!source) {
        qWarning("Null BitmapContainer");
        return {};
    }
    return source->sharedPixmap();
}

void GraphicsContainer::fillRect(GraphicsRect rect, TUint32 colour) {
    if (!device) return;
    // A zero width or height is Qt's empty rectangle, which fillRect would still paint.
    if (rect.width <= 0 || rect.height <= 0) return;
    painter.fillRect(corners(rect), toQColor(colour));
}

void GraphicsContainer::clear(TUint32 colour) {
    if (!device) return;
    painter.fillRect(QRect(QPoint(0, 0), QPoint(32767, 32767)), toQColor(colour));
}

void GraphicsContainer::drawLine(GraphicsPoint from, GraphicsPoint to, TUint32 colour) {
    if (!device) return;
    painter.setPen(cosmeticPen(colour));
    const QLine line(from.x, from.y, to.x, to.y);
    painter.drawLines(&line, 1);
}

void GraphicsContainer::drawBitmap(VMBitmap* bitmap, GraphicsPoint at, TInt32 opacity) {
    if (!device) return;
    const QSharedPointer<QPixmap> source = sourcePixmap(bitmap);
    if (!source) return;
    painter.save();
    applyOpacity(opacity);
    painter.drawPixmap(QPointF(at.x, at.y), *source);
    painter.restore();
}

void GraphicsContainer::drawBitmapRegion(VMBitmap* bitmap, GraphicsPoint at, GraphicsRect from,
                                         TInt32 opacity) {
    if (!device) return;
    const QSharedPointer<QPixmap> source = sourcePixmap(bitmap);
    if (!source) return;
    painter.save();
    applyOpacity(opacity);
    painter.drawPixmap(QRectF(at.x, at.y, from.width, from.height), *source,
                       QRectF(from.x, from.y, from.width, from.height));
    painter.restore();
}

void GraphicsContainer::drawTiled(GraphicsRect rect, VMBitmap* bitmap, GraphicsPoint offset) {
    if (!device) return;
    const QSharedPointer<QPixmap> source = sourcePixmap(bitmap);
    if (!source) return;
    painter.drawTiledPixmap(QRectF(rect.x, rect.y, rect.width, rect.height), *source,
                            QPointF(-double(offset.x), -double(offset.y)));
}

void GraphicsContainer::drawTransformed(VMBitmap* bitmap, GraphicsPoint centre, TInt64 angle,
                                        TInt64 scaleX, TInt64 scaleY, TInt32 opacity) {
    if (!device) return;
    const QSharedPointer<QPixmap> source = sourcePixmap(bitmap);
    if (!source) return;
    const double a = fromFixed(angle);
    const double w = source->width();
    const double h = source->height();
    painter.save();
    applyOpacity(opacity);
    painter.translate(QPointF(centre.x, centre.y));
    painter.rotate(-(a * 180.0 / 3.141));
    painter.scale(fromFixed(scaleX), fromFixed(scaleY));
    painter.translate(QPointF(-w * 0.5, -h * 0.5));
    painter.drawPixmap(QPointF(0, 0), *source);
    painter.restore();
}

void GraphicsContainer::drawText(const TUint16* text, TInt32 start, TInt32 length, GraphicsPoint at,
                                 TUint32 colour, CAppsFont& font) {
    switch (font.fontType()) {
    case CAppsFont::kNativeFont:
        if (dynamic_cast<NativeFont*>(&font)) {
            if (!device) return;
            painter.setPen(cosmeticPen(colour));
            const QString whole =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(text), start + length);
            painter.drawText(QRect(QPoint(at.x, at.y), QPoint(clamped(TInt64(at.x) + 32767),
                                                              clamped(TInt64(at.y) + 32767))),
                             Qt::AlignLeft | Qt::AlignTop, whole.mid(start, length));
            return;
        }
        break;
    case CAppsFont::kBitmapFont:
        if (auto* bitmapFont = dynamic_cast<ZarnokFont*>(&font)) {
            if (device) bitmapFont->draw(painter, text, start, length, at, colour);
            return;
        }
        break;
    default: break;
    }
    raise(KErrInvalidArgument, "Draw string: invalid font type");
}
