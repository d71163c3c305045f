#pragma once

#include "Graphics.h"

#include <QPainter>
#include <QPixmap>
#include <QSharedPointer>

class BitmapContainer;

// The painter of one drawing target: the screen's back buffer for one repaint, or a bitmap,
// whose pixmap it keeps alive while it paints. Antialiasing and smooth pixmap transformation
// are off, so every operation writes whole pixels and transformed bitmaps are sampled by the
// nearest pixel.
class GraphicsContainer : public VMGraphics {
public:
    // Paints on a device the caller keeps alive until end().
    explicit GraphicsContainer(QPaintDevice* device);
    // Zero area raises code 10 "GraphicsContainer: invalid bitmap".
    explicit GraphicsContainer(BitmapContainer& bitmap);
    ~GraphicsContainer() override;

    QPainter& qpainter() { return painter; }
    bool isPainting() const { return device != nullptr; }

    void end() override;
    void fillRect(GraphicsRect rect, TUint32 colour) override;
    void clear(TUint32 colour) override;
    void drawLine(GraphicsPoint from, GraphicsPoint to, TUint32 colour) override;
    void drawBitmap(VMBitmap* bitmap, GraphicsPoint at, TInt32 opacity) override;
    void drawBitmapRegion(VMBitmap* bitmap, GraphicsPoint at, GraphicsRect source,
                          TInt32 opacity) override;
    void drawTiled(GraphicsRect rect, VMBitmap* bitmap, GraphicsPoint offset) override;
    void drawTransformed(VMBitmap* bitmap, GraphicsPoint centre, TInt64 angle, TInt64 scaleX,
                         TInt64 scaleY, TInt32 opacity) override;
    void drawText(const TUint16* text, TInt32 start, TInt32 length, GraphicsPoint at,
                  TUint32 colour, CAppsFont& font) override;

private:
    void begin();
    void applyOpacity(TInt32 opacity);
    // The source's pixmap for one drawing; null (with the warning) when it is no bitmap.
    QSharedPointer<QPixmap> sourcePixmap(VMBitmap* bitmap);

    QPaintDevice* device = nullptr;
    QPainter painter;
    QSharedPointer<QPixmap> pixmap;
};
