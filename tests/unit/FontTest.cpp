// Bitmap fonts cut from constructed images, the native font, and text drawn with both.

#include "CAppsString.h"
#include "ErrorHandling.h"
#include "GraphicsContainer.h"
#include "GraphicsTestSupport.h"
#include "NativeFont.h"
#include "ZarnokFont.h"

#include <QFontMetrics>
#include <QPixmap>

#include <string>
#include <vector>

namespace {

constexpr TUint32 kBlack = 0xFF000000;
constexpr TUint32 kRed = 0xFFFF0000;

std::u16string text(const char* latin1) {
    std::u16string s;
    for (const char* c = latin1; *c; ++c) s += char16_t(TUint8(*c));
    return s;
}
const TUint16* units(const std::u16string& s) {
    return reinterpret_cast<const TUint16*>(s.data());
}

// An ARGB32 font image: markers in the bottom row, column 0 set on the ascent rows, the
// glyph area filled with full coverage.
QImage fontImage(int width, int height, std::vector<int> markers, int ascentRows) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(0xFF000000); // blue byte 0: nothing
    for (int x : markers) image.setPixel(x, height - 1, 0xFF0000FF);
    for (int y = 0; y < ascentRows; ++y) image.setPixel(0, y, 0xFF000001);
    for (int y = 0; y < height - 1; ++y) {
        for (int x = 1; x < width; ++x) image.setPixel(x, y, 0xFF0000FF);
    }
    return image;
}

struct GlyphCase {
    const char* name;
    int width;
    std::vector<int> markers;
    std::vector<ZarnokFont::CharData> glyphs;
};

class GlyphStrip : public ::testing::TestWithParam<GlyphCase> {};

TEST_P(GlyphStrip, GlyphsRunFromMarkerToMarker) {
    const GlyphCase& c = GetParam();
    ZarnokFont font(fontImage(c.width, 5, c.markers, 0));
    ASSERT_EQ(font.glyphCount(), int(c.glyphs.size()));
    for (int i = 0; i < int(c.glyphs.size()); ++i) {
        EXPECT_EQ(font.glyph(TUint16(32 + i)).x, c.glyphs[i].x) << i;
        EXPECT_EQ(font.glyph(TUint16(32 + i)).width, c.glyphs[i].width) << i;
    }
    EXPECT_EQ(font.glyph(TUint16(32 + c.glyphs.size())).width, 0);
    EXPECT_EQ(font.glyph(31).width, 0);
    EXPECT_EQ(font.glyph(0xFFFF).width, 0);
    EXPECT_EQ(font.height(), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, GlyphStrip,
    ::testing::Values(GlyphCase{"TwoMarkers", 10, {4, 7}, {{1, 3}, {4, 3}}},
                      GlyphCase{"MarkerInLastColumn", 6, {2, 5}, {{1, 1}, {2, 3}}},
                      GlyphCase{"ColumnZeroIsNoMarker", 8, {0, 3}, {{1, 2}}},
                      GlyphCase{"NoMarkers", 8, {}, {}}, GlyphCase{"ColumnOneAlone", 8, {1}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ZarnokFontTest, AMarkerInColumnOneWithOthersIsRefused) {
    clearLastError();
    EXPECT_THROW(ZarnokFont(fontImage(8, 5, {1, 5}, 0)), ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrInvalidArgument);
    EXPECT_EQ(lastErrorText().toLatin1(), "InvalidArgumentException");
}

TEST(ZarnokFontTest, AscentCountsMarkedRowsFromTheTop) {
    struct {
        int height;
        int marked;
        int ascent;
    } cases[] = {{9, 3, 3}, {9, 0, 0}, {5, 5, 4}, {1, 1, 0}};
    for (const auto& c : cases) {
        ZarnokFont font(fontImage(6, c.height, {3}, c.marked));
        EXPECT_EQ(font.ascent(), c.ascent) << c.height << " " << c.marked;
    }
    // A mark below a gap does not count.
    QImage image = fontImage(6, 9, {3}, 2);
    image.setPixel(0, 4, 0xFF0000FF);
    EXPECT_EQ(ZarnokFont(image).ascent(), 2);
}

TEST(ZarnokFontTest, MeasuringAddsGlyphWidths) {
    ZarnokFont font(fontImage(12, 4, {3, 7, 8}, 0)); // ' ' 2, '!' 4, '"' 1
    const std::u16string s = text(" !\"#!");
    struct {
        int start, length, width;
    } widths[] = {{0, 5, 11}, {0, 1, 2}, {1, 2, 5}, {3, 1, 0}, {0, 0, 0}, {2, -1, 0}};
    for (const auto& w : widths)
        EXPECT_EQ(font.stringWidth(units(s), w.start, w.length), w.width) << w.start << w.length;
    struct {
        int start, length, maxWidth, fit;
    } fits[] = {{0, 5, 1, 0},  {0, 5, 2, 1},   {0, 5, 5, 1}, {0, 5, 6, 2},   {0, 5, 7, 4},
                {0, 5, 11, 5}, {0, 5, 100, 5}, {3, 1, 0, 1}, {0, 0, 100, 0}, {1, 3, 5, 3}};
    for (const auto& f : fits) {
        EXPECT_EQ(font.charsThatFit(units(s), f.start, f.length, f.maxWidth), f.fit)
            << f.start << " " << f.length << " " << f.maxWidth;
    }
}

TEST(ZarnokFontTest, WithoutGlyphsEverythingMeasuresZero) {
    ZarnokFont font(fontImage(8, 4, {}, 0));
    const std::u16string s = text("abc");
    EXPECT_EQ(font.stringWidth(units(s), 0, 3), 0);
    EXPECT_EQ(font.charsThatFit(units(s), 0, 3, 0), 3);
    ZarnokFont none{QImage()};
    EXPECT_EQ(none.glyphCount(), 0);
    EXPECT_EQ(none.height(), 0);
}

QImage drawn(ZarnokFont& font, const std::u16string& s, TUint32 colour, int x = 2, int y = 1) {
    QPixmap buffer(24, 8);
    buffer.fill(Qt::black);
    GraphicsContainer painter(&buffer);
    painter.drawText(units(s), 0, int(s.size()), {x, y}, colour, font);
    painter.end();
    return buffer.toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(ZarnokFontTest, GlyphsAreDrawnSideBySideInTheColour) {
    // ' ' covers columns 1..3 with a hole at (2, 1); '!' columns 4..6 at half coverage.
    QImage image(10, 5, QImage::Format_ARGB32);
    image.fill(0xFF000000);
    for (int y = 0; y < 4; ++y) {
        for (int x = 1; x < 4; ++x) image.setPixel(x, y, 0xFF0000FF);
        for (int x = 4; x < 7; ++x) image.setPixel(x, y, 0xFF000080);
    }
    image.setPixel(2, 1, 0xFF000000);
    image.setPixel(4, 4, 0xFF0000FF);
    image.setPixel(7, 4, 0xFF0000FF);
    ZarnokFont font(image);
    const QImage out = drawn(font, text("x !"), kRed);
    // 'x' has no glyph: it neither draws nor advances.
    EXPECT_EQ(out.pixel(1, 1), kBlack);
    EXPECT_EQ(out.pixel(2, 1), kRed);
    EXPECT_EQ(out.pixel(3, 2), kBlack); // the hole
    EXPECT_EQ(out.pixel(4, 4), kRed);
    EXPECT_EQ(out.pixel(2, 5), kBlack); // glyphs are 4 rows high
    const QRgb half = out.pixel(6, 3);
    EXPECT_NEAR(qRed(half), 128, 1);
    EXPECT_EQ(qGreen(half), 0);
    EXPECT_EQ(out.pixel(8, 1), kBlack);
}

TEST(ZarnokFontTest, TheColouredStripIsKeyedOnTheOpaqueColour) {
    ZarnokFont font(fontImage(6, 3, {3, 5}, 0));
    drawn(font, text(" !"), kRed);
    drawn(font, text(" !"), kRed);
    EXPECT_EQ(font.colouringCount(), 1);
    const QImage translucent = drawn(font, text(" "), 0x80FF0000);
    EXPECT_EQ(font.colouringCount(), 1);
    EXPECT_EQ(translucent.pixel(2, 1), 0xFF7F0000u); // alpha 128 as opacity
    drawn(font, text(" "), 0xFF00FF00);
    EXPECT_EQ(font.colouringCount(), 2);
}

TEST(NativeFontTest, MeasuresWithTheDefaultFontAtFortyPixels) {
    NativeFont font;
    QFont reference;
    reference.setPixelSize(40);
    const QFontMetrics metrics(reference);
    EXPECT_EQ(font.ascent(), metrics.ascent());
    EXPECT_EQ(font.height(), metrics.height());
    EXPECT_GT(font.height(), 0);
    const std::u16string s = text("Hello, world");
    EXPECT_EQ(font.stringWidth(units(s), 0, 5), metrics.horizontalAdvance("Hello"));
    EXPECT_EQ(font.stringWidth(units(s), 7, 5), metrics.horizontalAdvance("world"));
    EXPECT_EQ(font.stringWidth(units(s), 0, 0), 0);
    EXPECT_EQ(font.fontType(), 0);
}

TEST(NativeFontTest, CharsThatFitIsTheLongestPrefixWithinTheWidth) {
    NativeFont font;
    QFont reference;
    reference.setPixelSize(40);
    const QFontMetrics metrics(reference);
    const std::u16string s = text("WiiW mmm ...");
    const QString q = QString::fromStdU16String(s);
    for (int maxWidth : {0, 1, 20, 57, 100, 150, 200, 1000}) {
        const int n = font.charsThatFit(units(s), 0, int(s.size()), maxWidth);
        if (n > 0) {
            EXPECT_LE(metrics.horizontalAdvance(q, n), maxWidth) << maxWidth;
        }
        if (n < int(s.size())) {
            EXPECT_GT(metrics.horizontalAdvance(q, n + 1), maxWidth) << maxWidth;
        }
    }
    EXPECT_EQ(font.charsThatFit(units(s), 0, int(s.size()), 100000), int(s.size()));
    EXPECT_EQ(font.charsThatFit(units(s), 0, 0, 100000), 0);
}

TEST(NativeFontTest, TextIsDrawnBelowAndRightOfThePosition) {
    NativeFont font;
    QPixmap buffer(200, 80);
    buffer.fill(Qt::black);
    GraphicsContainer painter(&buffer);
    const std::u16string s = text("xHx");
    painter.drawText(units(s), 1, 1, {20, 10}, 0xFFFFFFFF, font);
    painter.end();
    const QImage image = buffer.toImage();
    int lit = 0, outside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == 0xFF000000) continue;
            ++lit;
            if (x < 20 || y < 10 || x >= 20 + font.stringWidth(units(s), 1, 1) + 2) ++outside;
        }
    }
    EXPECT_GT(lit, 50);
    EXPECT_EQ(outside, 0);
}

TEST(FontDispatchTest, AnUnknownFontTypeIsRefused) {
    class OtherFont : public CAppsFont {
    public:
        TInt32 ascent() override { return 0; }
        TInt32 height() override { return 0; }
        TInt32 stringWidth(const TUint16*, TInt32, TInt32) override { return 0; }
        TInt32 charsThatFit(const TUint16*, TInt32, TInt32, TInt32) override { return 0; }
        TInt32 fontType() override { return 7; }
    } other;
    QPixmap buffer(4, 4);
    GraphicsContainer painter(&buffer);
    const std::u16string s = text("a");
    clearLastError();
    EXPECT_THROW(painter.drawText(units(s), 0, 1, {0, 0}, kRed, other), ErrorHandlingException);
    EXPECT_EQ(lastErrorText().toLatin1(),
              "InvalidArgumentException: Draw string: invalid font type");
}

} // namespace
