// Bitmaps and painters of the host: the pixel forms, the fill rule and every drawing
// operation, checked pixel by pixel.

#include "BitmapContainer.h"
#include "CAppsString.h"
#include "ErrorHandling.h"
#include "GraphicsContainer.h"
#include "GraphicsTestSupport.h"

#include <QPixmap>

#include <vector>

namespace {

constexpr TUint32 kBlack = 0xFF000000;
constexpr TUint32 kWhite = 0xFFFFFFFF;
constexpr TUint32 kRed = 0xFFFF0000;
constexpr TUint32 kGreen = 0xFF00FF00;
constexpr TUint32 kBlue = 0xFF0000FF;

// 3.141 in fixed point: the angle that turns by exactly 180 degrees.
constexpr TInt64 kHalfTurn = 13490441979;
constexpr TInt64 kOne = TInt64(1) << 32;

QImage argb(const QPixmap& pixmap) {
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// A bitmap whose pixels are given row by row.
std::unique_ptr<BitmapContainer> bitmapOf(int width, const std::vector<TUint32>& pixels) {
    const int height = int(pixels.size()) / width;
    auto bitmap = std::make_unique<BitmapContainer>(width, height);
    for (int i = 0; i < int(pixels.size()); ++i) bitmap->setPixel(i % width, i / width, pixels[i]);
    return bitmap;
}

// A black back buffer and a painter on it, as a repaint has them.
struct Screen {
    explicit Screen(int width = 16, int height = 8) : buffer(width, height) {
        buffer.fill(Qt::black);
        painter = std::make_unique<GraphicsContainer>(&buffer);
    }
    QImage finish() {
        painter->end();
        return argb(buffer);
    }
    QPixmap buffer;
    std::unique_ptr<GraphicsContainer> painter;
};

// The pixels of a row as a list, for readable failures.
std::vector<TUint32> row(const QImage& image, int y, int from, int to) {
    std::vector<TUint32> out;
    for (int x = from; x <= to; ++x) out.push_back(image.pixel(x, y));
    return out;
}

TEST(BitmapContainerTest, OpaqueFillReadsBackExactly) {
    BitmapContainer bitmap(5, 3);
    for (TUint32 colour : {kRed, 0xFF123456u, kWhite, kBlack}) {
        bitmap.fill(colour);
        EXPECT_EQ(bitmap.pixel(0, 0), colour);
        EXPECT_EQ(bitmap.pixel(4, 2), colour);
    }
}

TEST(BitmapContainerTest, TranslucentFillReplacesWithoutBlending) {
    BitmapContainer bitmap(4, 4);
    bitmap.fill(kRed);
    bitmap.fill(0x80123456);
    EXPECT_EQ(bitmap.pixel(1, 2), 0x80123456u);
    bitmap.fill(0x00000000);
    EXPECT_EQ(bitmap.pixel(3, 3), 0x00000000u);
}

TEST(BitmapContainerTest, PixelWritesReachTheNextDraw) {
    auto source = bitmapOf(2, {kRed, kRed, kRed, kRed});
    source->setPixel(1, 0, kBlue);
    EXPECT_EQ(source->pixel(1, 0), kBlue);
    Screen screen;
    screen.painter->drawBitmap(source.get(), {3, 2}, 255);
    const QImage image = screen.finish();
    EXPECT_EQ(row(image, 2, 2, 5), (std::vector<TUint32>{kBlack, kRed, kBlue, kBlack}));
    EXPECT_EQ(row(image, 3, 3, 4), (std::vector<TUint32>{kRed, kRed}));
}

TEST(BitmapContainerTest, CopiesAreIndependent) {
    auto original = bitmapOf(2, {kRed, kGreen});
    BitmapContainer copy(*original);
    original->setPixel(0, 0, kBlue);
    EXPECT_EQ(copy.pixel(0, 0), kRed);
    EXPECT_EQ(copy.pixel(1, 0), kGreen);
    copy.fill(kWhite);
    EXPECT_EQ(original->pixel(1, 0), kGreen);
}

TEST(BitmapContainerTest, CopyFromTakesTheRectangle) {
    auto source = bitmapOf(3, {kRed, kGreen, kBlue, kWhite, kBlack, 0xFF111111});
    for (bool cached : {true, false}) {
        if (!cached) source->sharedPixmap(); // the pixmap authoritative again
        BitmapContainer part(2, 2);
        part.copyFrom(source.get(), 1, 0, 2, 2);
        EXPECT_EQ(part.pixel(0, 0), kGreen);
        EXPECT_EQ(part.pixel(1, 0), kBlue);
        EXPECT_EQ(part.pixel(0, 1), kBlack);
        EXPECT_EQ(part.pixel(1, 1), 0xFF111111u);
    }
}

TEST(BitmapContainerTest, FastScalingSamplesTheNearestPixelAndSmoothBlends) {
    auto source = bitmapOf(2, {kBlack, kWhite});
    BitmapContainer fast(4, 1);
    fast.scaleFrom(source.get(), 0);
    EXPECT_EQ(fast.pixel(0, 0), kBlack);
    EXPECT_EQ(fast.pixel(1, 0), kBlack);
    EXPECT_EQ(fast.pixel(2, 0), kWhite);
    EXPECT_EQ(fast.pixel(3, 0), kWhite);
    BitmapContainer smooth(4, 1);
    smooth.scaleFrom(source.get(), 10);
    const TUint32 between = smooth.pixel(1, 0);
    EXPECT_GT(between & 0xFF, 0u);
    EXPECT_LT(between & 0xFF, 255u);
    BitmapContainer untouched(3, 3);
    untouched.fill(kRed);
    untouched.scaleFrom(nullptr, 0);
    EXPECT_EQ(untouched.pixel(2, 2), kRed);
}

TEST(BitmapContainerTest, EncodingRoundTripsThroughTheDecoder) {
    auto source = bitmapOf(3, {kRed, kGreen, kBlue, 0xFF102030, kWhite, kBlack});
    for (const char* format : {"png", "bmp"}) {
        Vec<TUint8> bytes;
        ASSERT_TRUE(source->encode(bytes, format)) << format;
        QPixmap decoded;
        ASSERT_TRUE(decoded.loadFromData(bytes.data(), uint(bytes.size())));
        BitmapContainer back(decoded);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(back.pixel(i % 3, i / 3), source->pixel(i % 3, i / 3)) << format << i;
    }
    Vec<TUint8> none;
    EXPECT_FALSE(source->encode(none, ""));
    EXPECT_EQ(none.size(), 0);
    BitmapContainer empty(0, 0);
    EXPECT_FALSE(empty.encode(none, "png"));
    EXPECT_EQ(none.size(), 0);
}

TEST(BitmapContainerTest, JpegKeepsColoursWithinTolerance) {
    BitmapContainer source(16, 16);
    source.fill(0xFF4080C0);
    Vec<TUint8> bytes;
    ASSERT_TRUE(source.encode(bytes, "jpg"));
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    QPixmap decoded;
    ASSERT_TRUE(decoded.loadFromData(bytes.data(), uint(bytes.size())));
    const QRgb pixel = argb(decoded).pixel(8, 8);
    EXPECT_NEAR(qRed(pixel), 0x40, 4);
    EXPECT_NEAR(qGreen(pixel), 0x80, 4);
    EXPECT_NEAR(qBlue(pixel), 0xC0, 4);
}

TEST(GraphicsContainerTest, FillRectCoversExactlyWidthTimesHeight) {
    Screen screen;
    screen.painter->fillRect({2, 1, 3, 2}, kRed);
    screen.painter->fillRect({10, 1, 0, 5}, kGreen);
    screen.painter->fillRect({10, 1, 5, 0}, kGreen);
    screen.painter->fillRect({12, 1, -2, 3}, kGreen);
    const QImage image = screen.finish();
    int red = 0, green = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            red += image.pixel(x, y) == kRed;
            green += image.pixel(x, y) == kGreen;
        }
    }
    EXPECT_EQ(red, 6);
    EXPECT_EQ(green, 0);
    EXPECT_EQ(image.pixel(2, 1), kRed);
    EXPECT_EQ(image.pixel(4, 2), kRed);
    EXPECT_EQ(image.pixel(5, 2), kBlack);
    EXPECT_EQ(image.pixel(4, 3), kBlack);
}

TEST(GraphicsContainerTest, TranslucentFillsBlendOnTheScreen) {
    Screen screen;
    screen.painter->fillRect({0, 0, 4, 4}, 0x80FFFFFF);
    screen.painter->clear(0x00FF0000);
    const QImage image = screen.finish();
    EXPECT_EQ(image.pixel(1, 1), 0xFF808080u);
    EXPECT_EQ(image.pixel(5, 5), kBlack);
}

TEST(GraphicsContainerTest, ClearPaintsOnlyInsideTheClip) {
    Screen screen;
    screen.painter->qpainter().setClipRegion(QRegion(4, 2, 3, 2), Qt::ReplaceClip);
    screen.painter->clear(kBlue);
    const QImage image = screen.finish();
    EXPECT_EQ(row(image, 2, 3, 7), (std::vector<TUint32>{kBlack, kBlue, kBlue, kBlue, kBlack}));
    EXPECT_EQ(image.pixel(5, 3), kBlue);
    EXPECT_EQ(image.pixel(5, 4), kBlack);
    EXPECT_EQ(image.pixel(5, 1), kBlack);
}

TEST(GraphicsContainerTest, LinesAreOnePixelWithBothEnds) {
    Screen screen;
    screen.painter->drawLine({2, 3}, {6, 3}, kWhite);
    screen.painter->drawLine({12, 4}, {15, 7}, kGreen);
    screen.painter->drawLine({10, 1}, {10, 5}, kRed);
    const QImage image = screen.finish();
    EXPECT_EQ(row(image, 3, 1, 7),
              (std::vector<TUint32>{kBlack, kWhite, kWhite, kWhite, kWhite, kWhite, kBlack}));
    EXPECT_EQ(image.pixel(4, 2), kBlack);
    EXPECT_EQ(image.pixel(4, 4), kBlack);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image.pixel(12 + i, 4 + i), kGreen) << i;
    EXPECT_EQ(image.pixel(13, 4), kBlack);
    for (int y = 1; y <= 5; ++y) EXPECT_EQ(image.pixel(10, y), kRed) << y;
    EXPECT_EQ(image.pixel(10, 6), kBlack);
    EXPECT_EQ(image.pixel(11, 3), kBlack);
}

TEST(GraphicsContainerTest, OpacityAppliesToOneDrawingOnly) {
    auto white = bitmapOf(2, {kWhite, kWhite, kWhite, kWhite});
    Screen screen;
    screen.painter->drawBitmap(white.get(), {0, 0}, 255);
    screen.painter->drawBitmap(white.get(), {4, 0}, 128);
    screen.painter->fillRect({8, 0, 2, 2}, kRed);
    screen.painter->drawBitmap(white.get(), {12, 0}, 0);
    const QImage image = screen.finish();
    EXPECT_EQ(image.pixel(1, 1), kWhite);
    // Opacity 128 / 255 is 128 / 256 in the painter's fixed point: 255 * 0.5 rounds down.
    EXPECT_EQ(image.pixel(5, 1), 0xFF7F7F7Fu);
    EXPECT_EQ(image.pixel(9, 1), kRed);
    EXPECT_EQ(image.pixel(13, 1), kBlack);
}

TEST(GraphicsContainerTest, RegionsDrawTheSourceRectangle) {
    auto source = bitmapOf(3, {kRed, kGreen, kBlue, kWhite, 0xFF111111, 0xFF222222});
    for (TInt32 opacity : {255, 128}) {
        Screen screen;
        screen.painter->drawBitmapRegion(source.get(), {5, 4}, {1, 0, 2, 2}, opacity);
        const QImage image = screen.finish();
        if (opacity == 255) {
            EXPECT_EQ(row(image, 4, 4, 7), (std::vector<TUint32>{kBlack, kGreen, kBlue, kBlack}));
            EXPECT_EQ(row(image, 5, 5, 6), (std::vector<TUint32>{0xFF111111, 0xFF222222}));
        } else {
            EXPECT_EQ(image.pixel(5, 4), 0xFF007F00u);
        }
        EXPECT_EQ(image.pixel(5, 6), kBlack);
    }
}

TEST(GraphicsContainerTest, TilingStartsAtTheNegatedOffset) {
    const std::vector<TUint32> columns = {kRed, kGreen, kBlue, kWhite};
    auto source = bitmapOf(4, columns);
    // Left edge shows column (-offset.x) modulo the width, for even and odd offsets.
    for (TInt32 offset : {0, 1, 2, 5, -1}) {
        Screen screen;
        screen.painter->drawTiled({3, 2, 10, 1}, source.get(), {offset, 0});
        const QImage image = screen.finish();
        for (int x = 0; x < 10; ++x) {
            const int column = ((x - offset) % 4 + 4) % 4;
            EXPECT_EQ(image.pixel(3 + x, 2), columns[column]) << offset << " " << x;
        }
        EXPECT_EQ(image.pixel(2, 2), kBlack);
        EXPECT_EQ(image.pixel(13, 2), kBlack);
        EXPECT_EQ(image.pixel(3, 3), kBlack);
    }
}

TEST(GraphicsContainerTest, TransformedDrawingCentresRotatesAndScales) {
    auto source =
        bitmapOf(4, {kRed, kGreen, kBlue, kWhite, 0xFF111111, 0xFF222222, 0xFF333333, 0xFF444444});
    {
        Screen screen;
        screen.painter->drawTransformed(source.get(), {6, 4}, 0, kOne, kOne, 255);
        const QImage image = screen.finish();
        EXPECT_EQ(row(image, 3, 3, 8),
                  (std::vector<TUint32>{kBlack, kRed, kGreen, kBlue, kWhite, kBlack}));
        EXPECT_EQ(image.pixel(4, 4), 0xFF111111u);
    }
    {
        Screen screen;
        screen.painter->drawTransformed(source.get(), {6, 4}, kHalfTurn, kOne, kOne, 255);
        const QImage image = screen.finish();
        EXPECT_EQ(row(image, 3, 4, 7),
                  (std::vector<TUint32>{0xFF444444, 0xFF333333, 0xFF222222, 0xFF111111}));
        EXPECT_EQ(row(image, 4, 4, 7), (std::vector<TUint32>{kWhite, kBlue, kGreen, kRed}));
    }
    {
        Screen screen(20, 10);
        screen.painter->drawTransformed(source.get(), {8, 4}, 0, 2 * kOne, 2 * kOne, 255);
        const QImage image = screen.finish();
        // 8 x 4 pixels, each source pixel a 2 x 2 block, top-left at (4, 2).
        EXPECT_EQ(row(image, 2, 3, 12),
                  (std::vector<TUint32>{kBlack, kRed, kRed, kGreen, kGreen, kBlue, kBlue, kWhite,
                                        kWhite, kBlack}));
        EXPECT_EQ(image.pixel(4, 3), kRed);
        EXPECT_EQ(image.pixel(4, 4), 0xFF111111u);
        EXPECT_EQ(image.pixel(11, 5), 0xFF444444u);
        EXPECT_EQ(image.pixel(11, 6), kBlack);
    }
}

TEST(GraphicsContainerTest, BitmapCanvasesPaintOnTheBitmap) {
    BitmapContainer target(4, 4);
    target.fill(kBlack);
    {
        GraphicsContainer painter(target);
        painter.fillRect({1, 1, 2, 2}, kGreen);
    }
    EXPECT_EQ(target.pixel(0, 0), kBlack);
    EXPECT_EQ(target.pixel(1, 1), kGreen);
    EXPECT_EQ(target.pixel(2, 2), kGreen);
    BitmapContainer empty(0, 3);
    clearLastError();
    EXPECT_THROW(GraphicsContainer{empty}, ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrVM);
    EXPECT_EQ(lastErrorText().toLatin1(), "VMException: GraphicsContainer: invalid bitmap");
}

TEST(GraphicsContainerTest, EndedPaintersAndMissingSourcesDrawNothing) {
    auto source = bitmapOf(1, {kRed});
    Screen screen;
    screen.painter->drawBitmap(nullptr, {0, 0}, 255);
    screen.painter->end();
    screen.painter->end();
    screen.painter->fillRect({0, 0, 4, 4}, kRed);
    screen.painter->drawBitmap(source.get(), {0, 0}, 255);
    const QImage image = screen.finish();
    EXPECT_EQ(image.pixel(0, 0), kBlack);
}

// Whatever numbers an application passes, painting stays inside the target and ends quickly.
TEST(GraphicsContainerTest, ExtremeArgumentsAreClippedNotFollowed) {
    const TInt32 extremes[] = {INT32_MIN, -100000, -1, 0, 1, 7, 100000, INT32_MAX};
    const TInt64 scales[] = {INT64_MIN, -kOne, 0, kOne / 1000, kOne, TInt64(1) << 62, INT64_MAX};
    auto source = bitmapOf(3, {kRed, kGreen, kBlue, kWhite, kBlack, kRed});
    Screen screen(32, 16);
    GraphicsContainer& p = *screen.painter;
    for (TInt32 a : extremes) {
        for (TInt32 b : extremes) {
            p.fillRect({a, b, b, a}, kRed);
            p.fillRect({a, a, b, b}, 0x80FFFFFF);
            p.drawLine({a, b}, {b, a}, kGreen);
            p.drawBitmap(source.get(), {a, b}, a & 0xFF);
            p.drawBitmapRegion(source.get(), {a, b}, {b, a, a, b}, 128);
            p.drawTiled({a, b, b, a}, source.get(), {a, b});
            p.drawTiled({0, 0, 32, 16}, source.get(), {a, b});
        }
        for (TInt64 scale : scales) {
            p.drawTransformed(source.get(), {a, 8}, scale, scale, kOne, 255);
            p.drawTransformed(source.get(), {16, a}, kHalfTurn, kOne, scale, 100);
        }
    }
    const QImage image = screen.finish();
    EXPECT_EQ(image.size(), QSize(32, 16));
}

} // namespace
