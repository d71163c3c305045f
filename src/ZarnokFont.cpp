#include "ZarnokFont.h"

#include "ErrorHandling.h"

#include <QPainter>

#include <algorithm>
#include <vector>

namespace {

// Byte 0 of an ARGB32 pixel as it lies in memory (blue on a little-endian machine).
TUint8 lowByte(const QImage& image, int x, int y) {
    return image.constScanLine(y)[4 * x];
}

} // namespace

ZarnokFont::ZarnokFont(const QImage& image)
    : pixelData(image.width(), image.height(), QImage::Format_Indexed8) {
    if (image.isNull() || pixelData.isNull()) return;
    const QImage source = image.convertToFormat(QImage::Format_ARGB32, Qt::AutoColor);
    pixelData.fill(0); // the marker row is not copied; it stays transparent
    const int width = source.width();
    const int rows = source.height();
    glyphHeight = rows - 1;
    for (int y = 0; y < glyphHeight; ++y) {
        uchar* target = pixelData.scanLine(y);
        Z_CHECK(target + width <= pixelData.bits() + pixelData.sizeInBytes());
        for (int x = 0; x < width; ++x) target[x] = lowByte(source, x, y);
    }
    while (ascentRows < glyphHeight && lowByte(source, 0, ascentRows) != 0) ++ascentRows;

    std::vector<int> markers; // in increasing order
    for (int x = 1; x < width; ++x) {
        if (lowByte(source, x, glyphHeight) != 0) markers.push_back(x);
    }
    const auto counted =
        std::count_if(markers.begin(), markers.end(), [](int x) { return x >= 2; });
    if (counted == 0 || markers.empty()) return;
    if (counted < int(markers.size())) raise(KErrInvalidArgument); // a marker in column 1
    glyphs.resize(int(counted));
    int start = 1;
    for (int i = 0; i < int(markers.size()); ++i) {
        glyphs[i] = CharData{start, markers[i] - start};
        start = markers[i];
    }
}

TInt32 ZarnokFont::stringWidth(const TUint16* text, TInt32 start, TInt32 length) {
    if (length <= 0) return 0;
    TInt64 total = 0;
    for (TInt32 i = start; i < start + length; ++i) total += glyph(text[i]).width;
    return TInt32(std::min<TInt64>(total, INT32_MAX));
}

TInt32 ZarnokFont::charsThatFit(const TUint16* text, TInt32 start, TInt32 length, TInt32 maxWidth) {
    if (length <= 0) return 0;
    TInt64 total = 0;
    TInt32 passed = 0;
    for (; passed < length; ++passed) {
        total += glyph(text[start + passed]).width;
        if (total > maxWidth) break;
    }
    return passed;
}

int ZarnokFont::getContentSize() const {
    return int(pixelData.sizeInBytes()) + colouredPixmap.width() * colouredPixmap.height() * 4;
}

void ZarnokFont::setColour(TUint32 colour) {
    const TUint32 opaque = colour | 0xFF000000;
    if (pixmapColour == opaque && pixelData.colorCount() > 0) return;
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) table[i] = (opaque & 0x00FFFFFF) | TUint32(i) << 24;
    pixelData.setColorTable(table);
    pixmapColour = opaque;
    colouredPixmap = QPixmap::fromImage(pixelData);
    ++colourings;
}

void ZarnokFont::draw(QPainter& painter, const TUint16* text, TInt32 start, TInt32 length,
                      GraphicsPoint at, TUint32 colour) {
    if (glyphs.size() == 0) return;
    setColour(colour);
    painter.save();
    if (colour >> 24 != 0xFF) painter.setOpacity((colour >> 24) / 255.0);
    double x = at.x;
    for (TInt32 i = start; i < start + length; ++i) {
        const CharData g = glyph(text[i]);
        if (g.width == 0) continue;
        painter.drawPixmap(QRectF(x, at.y, g.width, glyphHeight), colouredPixmap,
                           QRectF(g.x, 0, g.width, glyphHeight));
        x += g.width;
    }
    painter.restore();
}
