// Bitmaps and bitmap fonts from bytes, as an application hands them to Bitmap: and Font: natives.
// Bytes that start as an image file (PNG, JPEG, GIF, BMP) go through the decoders, once as a
// bitmap and once as a font; other bytes are a raw ARGB32 picture (width and height in the first
// two bytes) given straight to the glyph cutter, which random image files seldom reach. Whatever
// comes out is then used: pixels read and written at the edges, encoded, text measured and drawn.

#include "BitmapContainer.h"
#include "ErrorHandling.h"
#include "HostGraphics.h"
#include "ZarnokFont.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// A few header bytes can declare a picture of millions of pixels, whose decoding is only
// allocation and filling (Qt's allocation limit bounds it in the runtime): the fuzzer would
// spend its seconds there instead of in the parsers.
constexpr qint64 kMaxPixels = 1 << 20;

bool declaresHugePicture(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    const QSize declared = QImageReader(&buffer).size();
    return qint64(declared.width()) * declared.height() > kMaxPixels;
}

bool looksLikeImageFile(const std::uint8_t* data, std::size_t size) {
    static const char* const kMagics[] = {"\x89PNG", "\xFF\xD8\xFF", "GIF8", "BM"};
    for (const char* magic : kMagics) {
        const std::size_t length = std::strlen(magic);
        if (size >= length && std::memcmp(data, magic, length) == 0) return true;
    }
    return false;
}

void useBitmap(VMBitmap& bitmap) {
    TInt32 width = 0, height = 0;
    bitmap.size(width, height);
    const TInt32 xs[] = {-1, 0, width - 1, width}, ys[] = {-1, 0, height - 1, height};
    for (TInt32 x : xs)
        for (TInt32 y : ys) bitmap.setPixel(x, y, bitmap.pixel(x, y) ^ 0x00FFFFFF);
    Vec<TUint8> encoded;
    if (TInt64(width) * height <= 256 * 256) bitmap.encode(encoded, "png");
}

void useFont(CAppsFont& font) {
    static const TUint16 kText[] = {'A', ' ', 'z', '~', 0x7F, 0x1F, 0xE4, 0xFFFF};
    const TInt32 length = TInt32(sizeof kText / sizeof kText[0]);
    font.stringWidth(kText, 0, length);
    font.charsThatFit(kText, 0, length, 20);
    auto* cut = dynamic_cast<ZarnokFont*>(&font);
    if (!cut || font.height() > 256) return;
    QImage canvas(64, 32, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(0);
    QPainter painter(&canvas);
    cut->draw(painter, kText, 0, length, GraphicsPoint{-3, 2}, 0x80FF0000);
}

template <class Step> void guarded(Step step) {
    try {
        step();
    } catch (const ErrorHandlingException&) {
        // A refused picture raises code 6 as the natives report it.
    }
    clearLastError();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20) return -1;
    HostGraphics graphics;
    if (looksLikeImageFile(data, size)) {
        if (declaresHugePicture(data, size)) return 0;
        guarded([&] {
            if (auto bitmap = graphics.decodeBitmap(data, TInt32(size))) useBitmap(*bitmap);
        });
        guarded([&] {
            if (auto font = graphics.decodeFont(data, TInt32(size))) useFont(*font);
        });
        return 0;
    }
    if (size < 2) return 0;
    const int width = 1 + data[0] % 128, height = 1 + data[1] % 32;
    QImage picture(width, height, QImage::Format_ARGB32);
    picture.fill(0);
    const std::size_t pixelBytes = std::min<std::size_t>(size - 2, std::size_t(width) * height * 4);
    std::memcpy(picture.bits(), data + 2, pixelBytes);
    guarded([&] {
        ZarnokFont font(picture);
        useFont(font);
    });
    return 0;
}
