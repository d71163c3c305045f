// The graphics native groups on the operand stack: values, canvases, bitmaps, fonts and the
// screen, with their messages.

#include "GraphicsNatives.h"
#include "GraphicsContainer.h"
#include "GraphicsHandle.h"
#include "GraphicsTestSupport.h"
#include "HostGraphics.h"
#include "NativeGroups.h"
#include "NumericNatives.h"
#include "ScreenCanvas.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <QBuffer>

#include <string>
#include <vector>

namespace {

using Words = std::vector<TInt32>;

struct Raised {
    TInt32 code;
    std::string text;
    bool operator==(const Raised&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Raised& r) {
    return out << r.code << " '" << r.text << "'";
}

class GraphicsNativesTest : public ::testing::Test {
protected:
    using Group = void (*)(VirtualMachine&, TInt32);

    GraphicsNativesTest() { installGraphics(vm); }

    Words call(Group group, TInt32 function, const Words& arguments) {
        vm.sp = 0;
        for (TInt32 a : arguments) vm.push(a);
        group(vm, function);
        Words left;
        for (TInt32 i = 1; i <= vm.sp; ++i) left.push_back(vm.slot(i));
        return left;
    }
    Raised failure(Group group, TInt32 function, const Words& arguments) {
        clearLastError();
        try {
            call(group, function, arguments);
        } catch (const ErrorHandlingException&) {
            return {lastErrorCode(), lastErrorText().toLatin1()};
        }
        return {0, ""};
    }

    Address variable(const Words& words) {
        const Address v = vm.heap().allocate(16, 0, GC_CODE_PLAIN);
        for (int k = 0; k < int(words.size()); ++k) vm.arena().setWord(v + 4 * k, words[k]);
        return v;
    }
    Words read(Address v, int n) {
        Words out;
        for (int k = 0; k < n; ++k) out.push_back(vm.arena().int32(v + 4 * k));
        return out;
    }
    Address box(Address content = 0) {
        const Address b = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
        vm.arena().setWord(b, content);
        return b;
    }
    TInt32 bitmap(TInt32 width, TInt32 height, TUint32 colour) {
        const Address target = box();
        call(bitmapNative, 1, {ref(target), width, height, TInt32(colour)});
        return ref(target);
    }
    TInt32 string(const char* latin1) {
        return ref(vm.newStringValue(OString(vm.arena(), std::string_view(latin1))));
    }
    TInt32 bytes(const QByteArray& content) {
        return ref(newByteVectorValue(vm.heap(), reinterpret_cast<const TUint8*>(content.data()),
                                      TInt32(content.size())));
    }
    std::vector<TUint8> byteContent(TInt32 value) {
        const OVector v = OVector::ofValue(vm.heap(), Address(value), 1);
        if (v.count() == 0) return {};
        const TUint8* at = v.elementBytesAt(0, v.count());
        return std::vector<TUint8>(at, at + v.count());
    }
    TUint32 pixel(TInt32 bitmapValue, TInt32 x, TInt32 y) {
        return TUint32(call(bitmapNative, 7, {bitmapValue, x, y})[0]);
    }
    Words size(TInt32 bitmapValue) { return call(bitmapNative, 8, {bitmapValue}); }
    Address handleOf(TInt32 value) { return vm.arena().word(Address(value)); }
    static TInt32 ref(Address a) { return TInt32(a); }
    static QByteArray png(const QImage& image) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "png");
        return data;
    }

    VirtualMachine vm;
};

// ---- Color, Size, Position, Rectangle

TEST_F(GraphicsNativesTest, ColoursAreBuiltAndReadByComponent) {
    const Address c = variable({0});
    call(colorNative, 1, {ref(c)});
    EXPECT_EQ(TUint32(read(c, 1)[0]), 0xFFFFFFFFu);
    call(colorNative, 3, {ref(c), 255, 0, 0, 255});
    EXPECT_EQ(TUint32(read(c, 1)[0]), 0xFFFF0000u);
    call(colorNative, 3, {ref(c), 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(TUint32(read(c, 1)[0]), 0x78123456u);
    EXPECT_EQ(call(colorNative, 4, {ref(c)}), Words{0x12});
    EXPECT_EQ(call(colorNative, 5, {ref(c)}), Words{0x34});
    EXPECT_EQ(call(colorNative, 6, {ref(c)}), Words{0x56});
    EXPECT_EQ(call(colorNative, 7, {ref(c)}), Words{0x78});
    call(colorNative, 8, {ref(c), 0xAA});
    call(colorNative, 9, {ref(c), 0xBB});
    call(colorNative, 10, {ref(c), 0xCC});
    call(colorNative, 11, {ref(c), 0xDD});
    EXPECT_EQ(TUint32(read(c, 1)[0]), 0xDDAABBCCu);
    const Address d = variable({0});
    call(colorNative, 2, {ref(d), ref(c)});
    EXPECT_EQ(read(d, 1), read(c, 1));
    EXPECT_EQ(call(colorNative, 12, {5, 5}), Words{1});
    EXPECT_EQ(call(colorNative, 12, {5, 6}), Words{0});
    EXPECT_EQ(call(colorNative, 13, {5, 6}), Words{1});
    EXPECT_EQ(call(colorNative, 13, {5, 5}), Words{0});
}

TEST_F(GraphicsNativesTest, ColourComponentsOutside0To255AreRefused) {
    const Address c = variable({0x11223344});
    const Raised refused{KErrInvalidArgument, "InvalidArgumentException"};
    EXPECT_EQ(failure(colorNative, 3, {ref(c), 0, 0, 0, 256}), refused);
    EXPECT_EQ(failure(colorNative, 3, {ref(c), -1, 0, 0, 0}), refused);
    for (TInt32 f = 8; f <= 11; ++f) {
        EXPECT_EQ(failure(colorNative, f, {ref(c), 256}), refused) << f;
        EXPECT_EQ(failure(colorNative, f, {ref(c), -1}), refused) << f;
    }
    EXPECT_EQ(TUint32(read(c, 1)[0]), 0x11223344u);
}

TEST_F(GraphicsNativesTest, ColourConstants) {
    const TUint32 expected[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000,
                                0xFFFFFFFF, 0xFF00FFFF, 0xFFFF00FF, 0xFFFFFF00,
                                0xFF808080, 0xFF964B00, 0xFFFF7F00};
    for (TInt32 f = 14; f <= 24; ++f)
        EXPECT_EQ(call(colorNative, f, {}), Words{TInt32(expected[f - 14])}) << f;
}

TEST_F(GraphicsNativesTest, SizesRefuseNegativeDimensionsAndPositionsDoNot) {
    const Address s = variable({7, 8});
    call(sizeNative, 1, {ref(s)});
    EXPECT_EQ(read(s, 2), (Words{0, 0}));
    call(sizeNative, 3, {ref(s), 3, 4});
    EXPECT_EQ(call(sizeNative, 4, {ref(s)}), Words{3});
    EXPECT_EQ(call(sizeNative, 5, {ref(s)}), Words{4});
    call(sizeNative, 6, {ref(s), 9});
    call(sizeNative, 7, {ref(s), 10});
    EXPECT_EQ(read(s, 2), (Words{9, 10}));
    for (auto args : {Words{ref(s), -1, 1}, Words{ref(s), 1, -1}}) {
        EXPECT_EQ(failure(sizeNative, 3, args).code, KErrInvalidArgument);
    }
    EXPECT_EQ(failure(sizeNative, 6, {ref(s), -1}).code, KErrInvalidArgument);
    EXPECT_EQ(failure(sizeNative, 7, {ref(s), -1}).code, KErrInvalidArgument);
    EXPECT_EQ(read(s, 2), (Words{9, 10}));
    const Address t = variable({0, 0});
    call(sizeNative, 2, {ref(t), ref(s)});
    EXPECT_EQ(read(t, 2), (Words{9, 10}));
    EXPECT_EQ(call(sizeNative, 8, {1, 2, 1, 2}), Words{1});
    EXPECT_EQ(call(sizeNative, 8, {1, 2, 1, 3}), Words{0});
    EXPECT_EQ(call(sizeNative, 9, {1, 2, 2, 2}), Words{1});

    const Address p = variable({0, 0});
    call(positionNative, 3, {ref(p), -5, -6});
    EXPECT_EQ(read(p, 2), (Words{-5, -6}));
    call(positionNative, 6, {ref(p), -7});
    EXPECT_EQ(call(positionNative, 4, {ref(p)}), Words{-7});
    EXPECT_EQ(call(positionNative, 5, {ref(p)}), Words{-6});
    call(positionNative, 1, {ref(p)});
    EXPECT_EQ(read(p, 2), (Words{0, 0}));
    EXPECT_EQ(call(positionNative, 9, {1, 2, 1, 2}), Words{0});
}

TEST_F(GraphicsNativesTest, RectanglesReadAndWriteInPlace) {
    const Address r = variable({9, 9, 9, 9});
    call(rectangleNative, 1, {ref(r)});
    EXPECT_EQ(read(r, 4), (Words{0, 0, 0, 0}));
    call(rectangleNative, 3, {ref(r), 1, 2, -3, 4});
    EXPECT_EQ(read(r, 4), (Words{1, 2, -3, 4}));
    call(rectangleNative, 13, {ref(r), 30, 40});
    EXPECT_EQ(call(rectangleNative, 4, {ref(r)}), (Words{1, 2}));
    EXPECT_EQ(call(rectangleNative, 5, {ref(r)}), (Words{30, 40}));
    for (TInt32 f = 6; f <= 9; ++f)
        EXPECT_EQ(call(rectangleNative, f, {ref(r)}), Words{read(r, 4)[f - 6]}) << f;
    EXPECT_EQ(call(rectangleNative, 10, {ref(r)}), Words{31});
    EXPECT_EQ(call(rectangleNative, 11, {ref(r)}), Words{42});
    call(rectangleNative, 12, {ref(r), 5, 6});
    call(rectangleNative, 14, {ref(r), 7});
    call(rectangleNative, 15, {ref(r), 8});
    call(rectangleNative, 16, {ref(r), 20});
    call(rectangleNative, 17, {ref(r), 21});
    EXPECT_EQ(read(r, 4), (Words{7, 8, 20, 21}));
    call(rectangleNative, 18, {ref(r), 10});
    call(rectangleNative, 19, {ref(r), 8});
    EXPECT_EQ(read(r, 4), (Words{7, 8, 3, 0}));
    const Address copy = variable({});
    call(rectangleNative, 2, {ref(copy), ref(r)});
    EXPECT_EQ(read(copy, 4), read(r, 4));
    EXPECT_EQ(call(rectangleNative, 20, {1, 2, 3, 4, 1, 2, 3, 4}), Words{1});
    EXPECT_EQ(call(rectangleNative, 20, {1, 2, 3, 4, 1, 2, 3, 5}), Words{0});
    EXPECT_EQ(call(rectangleNative, 21, {1, 2, 3, 4, 1, 2, 3, 5}), Words{1});
}

TEST_F(GraphicsNativesTest, RectangleDimensionsRefuseNegativeResults) {
    const Address r = variable({10, 10, 5, 5});
    for (TInt32 f : {16, 17}) EXPECT_EQ(failure(rectangleNative, f, {ref(r), -1}).code, 6);
    EXPECT_EQ(failure(rectangleNative, 18, {ref(r), 9}).code, KErrInvalidArgument);
    EXPECT_EQ(failure(rectangleNative, 19, {ref(r), 9}).code, KErrInvalidArgument);
    EXPECT_EQ(read(r, 4), (Words{10, 10, 5, 5}));
}

TEST_F(GraphicsNativesTest, UnknownFunctionsNameTheGroupAndPosition) {
    vm.pc = 77;
    const std::pair<Group, const char*> groups[] = {
        {colorNative, "Color:"},       {sizeNative, "Size:"},
        {positionNative, "Position:"}, {rectangleNative, "Rectangle:"},
        {graphicsNative, "Graphics:"}, {bitmapNative, "Bitmap:"},
        {fontNative, "Font:"},         {screenNative, "Screen:"}};
    for (const auto& [group, prefix] : groups) {
        for (TInt32 f : {0, 25, -1}) {
            EXPECT_EQ(failure(group, f, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                      (Raised{KErrVM, std::string("VMException: ") + prefix + "77"}))
                << prefix << f;
        }
    }
    EXPECT_EQ(failure(fontNative, 1, {0}).text, "VMException: Font:77");
}

// ---- Bitmap

TEST_F(GraphicsNativesTest, CreatedBitmapsAreFilledAndSized) {
    const TInt32 b = bitmap(3, 2, 0xFF336699);
    EXPECT_EQ(size(b), (Words{3, 2}));
    EXPECT_EQ(pixel(b, 2, 1), 0xFF336699u);
    const TInt32 translucent = bitmap(2, 2, 0x40336699);
    EXPECT_EQ(pixel(translucent, 1, 1), 0x40336699u);
    for (auto dims : {Words{0, 5}, Words{5, 0}}) {
        const TInt32 empty = bitmap(dims[0], dims[1], 0xFFFFFFFF);
        EXPECT_EQ(vm.arena().word(handleOf(empty)), BITMAP_TYPE_ID);
        EXPECT_EQ(vm.arena().word(handleOf(empty) + 8), 0u);
        EXPECT_EQ(size(empty), (Words{0, 0}));
    }
    const Address target = box();
    EXPECT_EQ(failure(bitmapNative, 1, {ref(target), -1, 5, 0}),
              (Raised{6, "InvalidArgumentException: Width should be non-negative"}));
    EXPECT_EQ(failure(bitmapNative, 1, {ref(target), 5, -1, 0}),
              (Raised{6, "InvalidArgumentException: Height should be non-negative"}));
    EXPECT_EQ(failure(bitmapNative, 1, {ref(target), 100000, 100000, 0}).code, 6);
    EXPECT_EQ(vm.arena().word(target), 0u);
    EXPECT_EQ(failure(bitmapNative, 1, {0, 1, 1, 0}),
              (Raised{1, "NullPointerException: NULL pointer"}));
}

TEST_F(GraphicsNativesTest, PixelReadsAndWritesRoundTripInsideTheBounds) {
    const TInt32 b = bitmap(10, 10, 0xFF000000);
    const TUint32 colours[] = {0xFF123456, 0x80FFFFFF, 0x00000000, 0xFFFFFFFF};
    for (int i = 0; i < 4; ++i) call(bitmapNative, 9, {b, i, 9 - i, TInt32(colours[i])});
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pixel(b, i, 9 - i), colours[i]) << i;
    EXPECT_EQ(pixel(b, 5, 5), 0xFF000000u);
    const char* outside =
        "InvalidArgumentException: Position (10, 0) is outside the bounds of the bitmap: (10, 10)";
    EXPECT_EQ(failure(bitmapNative, 7, {b, 10, 0}), (Raised{6, outside}));
    EXPECT_EQ(failure(bitmapNative, 9, {b, 10, 0, 0}), (Raised{6, outside}));
    EXPECT_EQ(failure(bitmapNative, 7, {b, 0, -1}).text,
              "InvalidArgumentException: Position (0, -1) is outside the bounds of the bitmap: "
              "(10, 10)");
    const TInt32 empty = bitmap(0, 0, 0);
    EXPECT_EQ(failure(bitmapNative, 7, {empty, 1, 2}).text,
              "InvalidArgumentException: Position (1, 2) is outside the bounds of the bitmap, the "
              "bitmap is empty");
    EXPECT_EQ(failure(bitmapNative, 9, {empty, 1, 2, 0}).text,
              "InvalidArgumentException: Position is outside the bounds of the bitmap: the bitmap "
              "is empty");
    EXPECT_EQ(failure(bitmapNative, 7, {ref(box()), 0, 0}).code, KErrNullPointer);
}

TEST_F(GraphicsNativesTest, RegionCopiesCheckTheSourceRectangle) {
    const TInt32 source = bitmap(10, 10, 0xFF0000FF);
    call(bitmapNative, 9, {source, 6, 7, TInt32(0xFFFF0000)});
    const Address target = box();
    call(bitmapNative, 2, {ref(target), source, 5, 5, 3, 4});
    EXPECT_EQ(size(ref(target)), (Words{3, 4}));
    EXPECT_EQ(pixel(ref(target), 1, 2), 0xFFFF0000u);
    EXPECT_EQ(pixel(ref(target), 0, 0), 0xFF0000FFu);
    EXPECT_EQ(failure(bitmapNative, 2, {ref(target), source, 5, 5, 6, 1}).text,
              "InvalidArgumentException: Source rectangle (5, 5, 6, 1) should be inside the bounds "
              "of the source bitmap: (10, 10)");
    EXPECT_EQ(failure(bitmapNative, 2, {ref(target), source, -1, 0, 1, 1}).code, 6);
    call(bitmapNative, 2, {ref(target), source, 10, 10, 0, 0});
    EXPECT_EQ(size(ref(target)), (Words{0, 0}));
    const TInt32 empty = bitmap(0, 3, 0);
    call(bitmapNative, 2, {ref(target), empty, 0, 0, 0, 0});
    EXPECT_EQ(failure(bitmapNative, 2, {ref(target), empty, 0, 0, 1, 1}).text,
              "InvalidArgumentException: Source rectangle (0, 0, 1, 1) should be inside the bounds "
              "of the source bitmap, the bitmap is empty");
    EXPECT_EQ(failure(bitmapNative, 2, {ref(target), ref(box()), 0, 0, 0, 0}).code, 1);
}

TEST_F(GraphicsNativesTest, CopiesAreIndependentAndNeedASource) {
    const TInt32 source = bitmap(2, 2, 0xFF00FF00);
    const Address target = box();
    call(bitmapNative, 6, {ref(target), source});
    call(bitmapNative, 9, {source, 0, 0, TInt32(0xFFFF0000)});
    EXPECT_EQ(pixel(ref(target), 0, 0), 0xFF00FF00u);
    call(bitmapNative, 6, {ref(target), bitmap(0, 0, 0)});
    EXPECT_EQ(size(ref(target)), (Words{0, 0}));
    EXPECT_EQ(failure(bitmapNative, 6, {ref(target), ref(box())}),
              (Raised{1, "NullPointerException: NULL pointer"}));
    EXPECT_EQ(failure(bitmapNative, 6, {ref(target), 0}).code, 1);
}

TEST_F(GraphicsNativesTest, ResizingScalesOrEmptiesTheBitmap) {
    const TInt32 b = bitmap(100, 50, 0xFF808080);
    const Address before = vm.arena().word(handleOf(b) + 8);
    call(bitmapNative, 12, {b, 100, 50});
    EXPECT_EQ(vm.arena().word(handleOf(b) + 8), before);
    call(bitmapNative, 12, {b, 100, 80});
    EXPECT_EQ(size(b), (Words{100, 80}));
    EXPECT_EQ(pixel(b, 50, 79), 0xFF808080u);
    // Nearest-pixel resizing keeps a checkerboard's pixels exact.
    const TInt32 board = bitmap(2, 2, 0xFFFFFFFF);
    call(bitmapNative, 9, {board, 0, 0, TInt32(0xFF000000)});
    call(bitmapNative, 9, {board, 1, 1, TInt32(0xFF000000)});
    call(bitmapNative, 10, {board, 4, 4});
    EXPECT_EQ(pixel(board, 1, 1), 0xFF000000u);
    EXPECT_EQ(pixel(board, 2, 1), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(board, 3, 3), 0xFF000000u);
    call(bitmapNative, 11, {board, 0, 3});
    EXPECT_EQ(size(board), (Words{0, 0}));
    call(bitmapNative, 11, {board, 2, 3});
    EXPECT_EQ(size(board), (Words{2, 3}));
    EXPECT_EQ(pixel(board, 1, 2), 0xFF000000u);
    call(bitmapNative, 10, {board, -4, 4});
    EXPECT_EQ(size(board), (Words{0, 0}));
}

TEST_F(GraphicsNativesTest, EncodingPicksTheFormatByNumber) {
    const TInt32 b = bitmap(4, 3, 0xFF204060);
    struct {
        TInt32 format;
        std::vector<TUint8> magic;
    } formats[] = {{1, {0xFF, 0xD8}}, {2, {0x89, 'P', 'N', 'G'}}, {4, {'B', 'M'}}};
    for (const auto& f : formats) {
        const std::vector<TUint8> out = byteContent(call(bitmapNative, 13, {b, f.format})[0]);
        ASSERT_GE(out.size(), f.magic.size()) << f.format;
        EXPECT_TRUE(std::equal(f.magic.begin(), f.magic.end(), out.begin())) << f.format;
        QImage decoded;
        ASSERT_TRUE(decoded.loadFromData(out.data(), int(out.size()))) << f.format;
        EXPECT_EQ(decoded.size(), QSize(4, 3));
    }
    // Qt reads GIF but cannot write it: the save fails and the array stays empty.
    EXPECT_TRUE(byteContent(call(bitmapNative, 13, {b, 3})[0]).empty());
    EXPECT_TRUE(byteContent(call(bitmapNative, 13, {b, 7})[0]).empty());
    EXPECT_TRUE(byteContent(call(bitmapNative, 13, {bitmap(0, 0, 0), 2})[0]).empty());
}

TEST_F(GraphicsNativesTest, BitmapsLoadFromBytes) {
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(0xFF102030);
    image.setPixel(2, 1, 0xFFA0B0C0);
    const QByteArray data = png(image);
    const Address target = box();
    call(bitmapNative, 4, {ref(target), bytes(data)});
    EXPECT_EQ(size(ref(target)), (Words{3, 2}));
    EXPECT_EQ(pixel(ref(target), 2, 1), 0xFFA0B0C0u);
    const QByteArray framed = "xx" + data + "yyy";
    call(bitmapNative, 5, {ref(target), bytes(framed), 2, TInt32(data.size())});
    EXPECT_EQ(pixel(ref(target), 0, 0), 0xFF102030u);
    const Raised notAnImage{6, "InvalidArgumentException: Could not load image"};
    EXPECT_EQ(failure(bitmapNative, 4, {ref(target), bytes("not an image")}), notAnImage);
    EXPECT_EQ(failure(bitmapNative, 5, {ref(target), bytes(framed), 0, -1}), notAnImage);
    EXPECT_EQ(failure(bitmapNative, 4, {ref(target), bytes("")}),
              (Raised{6, "InvalidArgumentException: byte[] is empty"}));
    EXPECT_EQ(failure(bitmapNative, 5, {ref(target), bytes(framed), 3, 0}),
              (Raised{6, "InvalidArgumentException: size is zero"}));
    EXPECT_EQ(failure(bitmapNative, 5, {ref(target), bytes(framed), 2, 1000}).code, KErrRange);
}

// ---- Graphics

class CanvasNativesTest : public GraphicsNativesTest {
protected:
    CanvasNativesTest() : backBuffer(16, 8) { backBuffer.fill(Qt::black); }
    QImage screen() { return backBuffer.toImage().convertToFormat(QImage::Format_ARGB32); }
    QPixmap backBuffer;
};

TEST_F(CanvasNativesTest, ScreenCanvasesDrawUntilTheirEnd) {
    const TInt32 sprite = bitmap(2, 2, 0xFFFF0000);
    Address canvasHandle = 0;
    {
        ScreenCanvas canvas(vm, backBuffer, QRegion(0, 0, 12, 8));
        canvasHandle = canvas.handle();
        EXPECT_EQ(vm.arena().word(canvasHandle), SCREEN_TYPE_ID);
        const TInt32 c = ref(box(canvasHandle));
        call(graphicsNative, 8, {c, TInt32(0xFF0000FF)});
        call(graphicsNative, 4, {c, 1, 1, 3, 2, TInt32(0xFF00FF00)});
        call(graphicsNative, 5, {c, 0, 7, 15, 7, TInt32(0xFFFFFFFF)});
        call(graphicsNative, 1, {c, sprite, 6, 1, 255});
    }
    const QImage image = screen();
    EXPECT_EQ(image.pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(image.pixel(3, 2), 0xFF00FF00u);
    EXPECT_EQ(image.pixel(4, 2), 0xFF0000FFu);
    EXPECT_EQ(image.pixel(7, 2), 0xFFFF0000u);
    EXPECT_EQ(image.pixel(11, 7), 0xFFFFFFFFu);
    EXPECT_EQ(image.pixel(12, 7), 0xFF000000u); // outside the clip
    EXPECT_EQ(image.pixel(13, 0), 0xFF000000u);
    // A kept canvas draws nothing once its repaint is over.
    call(graphicsNative, 8, {ref(box(canvasHandle)), TInt32(0xFFFFFFFF)});
    EXPECT_EQ(screen().pixel(0, 0), 0xFF0000FFu);
}

TEST_F(CanvasNativesTest, ACollectedScreenCanvasIsNotTouchedAgain) {
    {
        ScreenCanvas canvas(vm, backBuffer, QRegion(0, 0, 16, 8));
        call(graphicsNative, 8, {ref(box(canvas.handle())), TInt32(0xFF00FF00)});
        const int before = vm.heap().natives().count();
        vm.heap().collect(); // nothing pinned holds it: the painter is destroyed, and ends
        EXPECT_LT(vm.heap().natives().count(), before);
        // A new native object may take the freed slot; the canvas must leave it alone.
        bitmap(2, 2, 0xFFFF0000);
    }
    EXPECT_EQ(screen().pixel(3, 3), 0xFF00FF00u);
    ScreenCanvas next(vm, backBuffer, QRegion(0, 0, 16, 8));
    call(graphicsNative, 8, {ref(box(next.handle())), TInt32(0xFF0000FF)});
}

TEST_F(CanvasNativesTest, BitmapCanvasesDetachBeforeTheirPixelsAreRead) {
    const TInt32 target = bitmap(4, 4, 0xFF000000);
    call(graphicsNative, 4, {target, 0, 0, 2, 2, TInt32(0xFF00FF00)});
    EXPECT_NE(vm.arena().word(handleOf(target) + 4), 0u);
    EXPECT_EQ(pixel(target, 1, 1), 0xFF00FF00u);
    EXPECT_EQ(vm.arena().word(handleOf(target) + 4), 0u);
    call(bitmapNative, 9, {target, 3, 3, TInt32(0xFFFF0000)});
    call(graphicsNative, 4, {target, 0, 3, 1, 1, TInt32(0xFF0000FF)});
    EXPECT_EQ(pixel(target, 3, 3), 0xFFFF0000u);
    EXPECT_EQ(pixel(target, 0, 3), 0xFF0000FFu);
    // Graphics 8 on a bitmap replaces the pixels, translucent colours included.
    call(graphicsNative, 8, {target, 0x00000000});
    EXPECT_EQ(pixel(target, 2, 2), 0x00000000u);
}

TEST_F(CanvasNativesTest, UnsetCanvasesAndBitmapsDrawNothing) {
    const TInt32 unset = ref(box());
    const TInt32 sprite = bitmap(2, 2, 0xFFFF0000);
    const TInt32 empty = bitmap(0, 0, 0);
    EXPECT_EQ(call(graphicsNative, 1, {unset, sprite, 0, 0, 255}), Words{});
    EXPECT_EQ(call(graphicsNative, 4, {unset, 0, 0, 5, 5, 0}), Words{});
    EXPECT_EQ(call(graphicsNative, 5, {unset, 0, 0, 5, 5, 0}), Words{});
    EXPECT_EQ(call(graphicsNative, 8, {unset, 0}), Words{});
    EXPECT_EQ(call(graphicsNative, 6, {unset, sprite, 0, 0, 4, 4, 0, 0, 255}), Words{});
    EXPECT_EQ(call(graphicsNative, 7, {sprite, unset, 0, 0, 0, 0, 1, 1, 255}), Words{});
    EXPECT_EQ(call(graphicsNative, 10, {sprite, unset, 0, 0, 0, 0, 0, 1, 0, 1, 255}), Words{});
    // An empty bitmap as canvas or as source.
    EXPECT_EQ(call(graphicsNative, 4, {empty, 0, 0, 5, 5, 0}), Words{});
    EXPECT_EQ(call(graphicsNative, 1, {sprite, empty, 0, 0, 255}), Words{});
    EXPECT_EQ(call(graphicsNative, 8, {empty, 0}), Words{});
    // The same handle as canvas and source.
    call(graphicsNative, 1, {sprite, sprite, 1, 1, 255});
    EXPECT_EQ(pixel(sprite, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(failure(graphicsNative, 4, {0, 0, 0, 1, 1, 0}).code, KErrNullPointer);
}

TEST_F(CanvasNativesTest, TypeIdsAreChecked) {
    const Address forged = vm.heap().allocate(12, 0, GC_CODE_PLAIN);
    vm.arena().setWord(forged, 3);
    const TInt32 canvas = ref(box(forged));
    const TInt32 sprite = bitmap(2, 2, 0xFFFF0000);
    EXPECT_EQ(failure(graphicsNative, 4, {canvas, 0, 0, 1, 1, 0}),
              (Raised{10, "VMException: Invalid object type ID"}));
    EXPECT_EQ(failure(graphicsNative, 1, {sprite, canvas, 0, 0, 255}),
              (Raised{10, "VMException: Invalid bitmap handle"}));
    EXPECT_EQ(failure(graphicsNative, 10, {sprite, canvas, 0, 0, 0, 0, 0, 1, 0, 1, 255}),
              (Raised{10, "VMException: Invalid typeid on bitmap"}));
    EXPECT_EQ(failure(bitmapNative, 8, {canvas}),
              (Raised{10, "VMException: Invalid typeid on bitmap"}));
}

TEST_F(CanvasNativesTest, TransformedTiledAndRegionDrawingReachTheBitmap) {
    const TInt32 target = bitmap(8, 6, 0xFF000000);
    const TInt32 turned = bitmap(2, 2, 0xFFFF0000);
    call(bitmapNative, 9, {turned, 1, 0, TInt32(0xFF00FF00)});
    call(bitmapNative, 9, {turned, 0, 1, TInt32(0xFF0000FF)});
    call(bitmapNative, 9, {turned, 1, 1, TInt32(0xFFFFFFFF)});
    const TInt64 halfTurn = 13490441979;
    call(graphicsNative, 10,
         {target, turned, 4, 2, TInt32(halfTurn), TInt32(halfTurn >> 32), 0, 1, 0, 1, 255});
    EXPECT_EQ(pixel(target, 3, 1), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(target, 4, 1), 0xFF0000FFu);
    EXPECT_EQ(pixel(target, 3, 2), 0xFF00FF00u);
    EXPECT_EQ(pixel(target, 4, 2), 0xFFFF0000u);
    EXPECT_EQ(pixel(target, 5, 2), 0xFF000000u);
    const TInt32 source = bitmap(2, 1, 0xFFFF0000);
    call(bitmapNative, 9, {source, 1, 0, TInt32(0xFF00FF00)});
    call(graphicsNative, 6, {target, source, 0, 4, 5, 1, 1, 0, 255});
    const TUint32 tiled[] = {0xFF00FF00, 0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0xFF00FF00};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(pixel(target, x, 4), tiled[x]) << x;
    EXPECT_EQ(pixel(target, 5, 4), 0xFF000000u);
    call(graphicsNative, 7, {target, source, 6, 5, 1, 0, 1, 1, 128});
    EXPECT_EQ(pixel(target, 6, 5), 0xFF007F00u);
    EXPECT_EQ(pixel(target, 7, 5), 0xFF000000u);
}

TEST_F(CanvasNativesTest, GraphicsNineOnlyChecksItsReferences) {
    const TInt32 s = string("x");
    EXPECT_EQ(call(graphicsNative, 9, {ref(box()), s, s, 1, 0}), Words{});
    for (int k = 0; k < 4; ++k) {
        Words args{ref(box()), s, s, 1, 0};
        args[k] = 0;
        EXPECT_EQ(failure(graphicsNative, 9, args).code, KErrNullPointer) << k;
    }
}

// ---- Fonts and text

class FontNativesTest : public CanvasNativesTest {
protected:
    // Glyphs ' ' (columns 1..2) and '!' (3..5), 3 rows high, ascent 2, full coverage.
    TInt32 bitmapFont() {
        QImage image(7, 4, QImage::Format_ARGB32);
        image.fill(0xFF0000FF);
        for (int x = 0; x < 7; ++x) image.setPixel(x, 3, 0xFF000000);
        image.setPixel(3, 3, 0xFF0000FF);
        image.setPixel(6, 3, 0xFF0000FF);
        image.setPixel(0, 2, 0xFF000000);
        vm.sp = 0;
        vm.push(bytes(png(image)));
        systemNative(vm, 12);
        return vm.slot(1);
    }
};

TEST_F(FontNativesTest, BitmapFontsMeasureThroughTheFontGroup) {
    const TInt32 font = bitmapFont();
    EXPECT_EQ(call(fontNative, 2, {font}), Words{3});
    EXPECT_EQ(call(fontNative, 3, {font}), Words{2});
    const TInt32 s = string("! x!");
    EXPECT_EQ(call(fontNative, 4, {font, s}), Words{8});
    EXPECT_EQ(call(fontNative, 5, {font, s, 1, 2}), Words{2});
    EXPECT_EQ(call(fontNative, 5, {font, s, 2, -1}), Words{3});
    EXPECT_EQ(call(fontNative, 6, {font, s, 4}), Words{1});
    EXPECT_EQ(call(fontNative, 6, {font, s, 8}), Words{4});
    EXPECT_EQ(call(fontNative, 7, {font, s, 1, 3, 2}), Words{2});
    EXPECT_EQ(failure(fontNative, 5, {font, s, 3, 5}).code, KErrRange);
    const TInt32 unset = ref(box());
    for (TInt32 f : {2, 3}) EXPECT_EQ(call(fontNative, f, {unset}), Words{0});
    EXPECT_EQ(call(fontNative, 4, {unset, s}), Words{0});
    EXPECT_EQ(call(fontNative, 6, {unset, s, 100}), Words{0});
    EXPECT_EQ(failure(fontNative, 2, {0}).code, KErrNullPointer);
}

TEST_F(FontNativesTest, TextIsDrawnWithEitherFont) {
    const TInt32 font = bitmapFont();
    const TInt32 target = bitmap(12, 4, 0xFF000000);
    call(graphicsNative, 3, {target, string("x! "), 1, 2, 1, 1, TInt32(0xFFFF0000), font});
    EXPECT_EQ(pixel(target, 0, 1), 0xFF000000u);
    for (int x = 1; x <= 5; ++x) EXPECT_EQ(pixel(target, x, 1), 0xFFFF0000u) << x;
    EXPECT_EQ(pixel(target, 6, 1), 0xFF000000u);
    EXPECT_EQ(pixel(target, 1, 0), 0xFF000000u);
    EXPECT_EQ(failure(graphicsNative, 3, {target, string("ab"), 1, 5, 0, 0, 0, font}).code,
              KErrRange);
    vm.sp = 0;
    systemNative(vm, 10);
    const TInt32 native = vm.slot(1);
    EXPECT_GT(call(fontNative, 2, {native})[0], 0);
    EXPECT_GT(call(fontNative, 4, {native, string("Wide")})[0], 0);
    const TInt32 page = bitmap(200, 60, 0xFF000000);
    call(graphicsNative, 2, {page, string("Hi"), 10, 5, TInt32(0xFFFFFFFF), native});
    int lit = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x) lit += pixel(page, x, y) != 0xFF000000u;
    EXPECT_GT(lit, 30);
    // Unset fonts and canvases draw nothing.
    EXPECT_EQ(call(graphicsNative, 2, {page, string("Hi"), 0, 0, 0, ref(box())}), Words{});
    EXPECT_EQ(call(graphicsNative, 2, {ref(box()), string("Hi"), 0, 0, 0, font}), Words{});
}

TEST_F(FontNativesTest, FontCreationFailures) {
    vm.sp = 0;
    vm.push(bytes(""));
    clearLastError();
    EXPECT_THROW(systemNative(vm, 12), ErrorHandlingException);
    EXPECT_EQ(lastErrorText().toLatin1(), "InvalidArgumentException: byte[] is empty");
    vm.sp = 0;
    vm.push(bytes("garbage"));
    EXPECT_THROW(systemNative(vm, 12), ErrorHandlingException);
    EXPECT_EQ(lastErrorText().toLatin1(), "InvalidArgumentException");
    QImage columnOne(8, 3, QImage::Format_ARGB32);
    columnOne.fill(0xFF000000);
    columnOne.setPixel(1, 2, 0xFF0000FF);
    columnOne.setPixel(5, 2, 0xFF0000FF);
    vm.sp = 0;
    vm.push(bytes(png(columnOne)));
    EXPECT_THROW(systemNative(vm, 12), ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrInvalidArgument);
}

} // namespace
