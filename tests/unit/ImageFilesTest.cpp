// Images this project did not make: PNG and JPEG files shipped by Debian packages, decoded by
// the bitmap loader and compared with an independent decoder (Python's PIL); and damaged
// images, which must give no bitmap rather than a crash.

#include "GraphicsHandle.h"
#include "GraphicsTestSupport.h"
#include "HostGraphics.h"
#include "VirtualMachine.h"

#include <QFile>
#include <QProcess>
#include <QRgb>

#include <random>
#include <string>
#include <vector>

namespace {

// From debconf and python-matplotlib-data (scripts/install-deps.sh).
const char* const kPng = "/usr/share/pixmaps/debian-logo.png";
const char* const kJpeg = "/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg";

struct Reference {
    int width = 0;
    int height = 0;
    std::vector<QRgb> pixels; // row by row, non-premultiplied
};

// The image as PIL decodes it: "width height" then one 0xAARRGGBB word per pixel.
Reference decodeWithPil(const char* path) {
    QProcess python;
    python.start("/usr/bin/python3", {"-c",
                                      "import sys\n"
                                      "from PIL import Image\n"
                                      "im = Image.open(sys.argv[1]).convert('RGBA')\n"
                                      "print(im.width, im.height)\n"
                                      "print(' '.join('%d' % (a << 24 | r << 16 | g << 8 | b)\n"
                                      "               for r, g, b, a in im.getdata()))\n",
                                      path});
    Reference reference;
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        ADD_FAILURE() << "python3 with PIL failed: " << python.readAllStandardError().data();
        return reference;
    }
    const QList<QByteArray> lines = python.readAllStandardOutput().split('\n');
    const QList<QByteArray> dims = lines.value(0).split(' ');
    reference.width = dims.value(0).toInt();
    reference.height = dims.value(1).toInt();
    for (const QByteArray& word : lines.value(1).split(' '))
        reference.pixels.push_back(word.toUInt());
    return reference;
}

QByteArray contents(const char* path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) ADD_FAILURE() << "missing " << path;
    return file.readAll();
}

class ImageFilesTest : public ::testing::Test {
protected:
    ImageFilesTest() { installGraphics(vm); }

    VMBitmap* load(const QByteArray& data, bool asFont = false) {
        const Address result = LoadBitmap(vm, reinterpret_cast<const TUint8*>(data.constData()),
                                          TInt32(data.size()), asFont);
        if (result == 0 || asFont) return nullptr;
        return bitmapObject(vm.heap(), bitmapOf(vm.heap(), result));
    }
    Address loadAny(const QByteArray& data, bool asFont) {
        return LoadBitmap(vm, reinterpret_cast<const TUint8*>(data.constData()),
                          TInt32(data.size()), asFont);
    }

    // Every pixel agrees: exactly where it is opaque, within the rounding of premultiplied
    // storage where it is translucent, not at all where it is transparent.
    void expectSamePixels(VMBitmap& bitmap, const Reference& reference, int tolerance) {
        TInt32 width = 0, height = 0;
        bitmap.size(width, height);
        ASSERT_EQ(width, reference.width);
        ASSERT_EQ(height, reference.height);
        ASSERT_EQ(int(reference.pixels.size()), width * height);
        int compared = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const QRgb expected = reference.pixels[size_t(y * width + x)];
                const QRgb actual = bitmap.pixel(x, y);
                ASSERT_EQ(qAlpha(actual), qAlpha(expected)) << x << "," << y;
                if (qAlpha(expected) == 0) continue;
                const int slack =
                    tolerance + (qAlpha(expected) == 255 ? 0 : 255 / qAlpha(expected) + 1);
                ASSERT_NEAR(qRed(actual), qRed(expected), slack) << x << "," << y;
                ASSERT_NEAR(qGreen(actual), qGreen(expected), slack) << x << "," << y;
                ASSERT_NEAR(qBlue(actual), qBlue(expected), slack) << x << "," << y;
                ++compared;
            }
        }
        EXPECT_GT(compared, 100);
    }

    VirtualMachine vm;
};

TEST_F(ImageFilesTest, DebianPngDecodesAsPilDecodesIt) {
    VMBitmap* bitmap = load(contents(kPng));
    ASSERT_NE(bitmap, nullptr);
    expectSamePixels(*bitmap, decodeWithPil(kPng), 0);
}

TEST_F(ImageFilesTest, DebianJpegDecodesAsPilDecodesIt) {
    VMBitmap* bitmap = load(contents(kJpeg));
    ASSERT_NE(bitmap, nullptr);
    expectSamePixels(*bitmap, decodeWithPil(kJpeg), 3);
}

TEST_F(ImageFilesTest, PngEncodingIsLossless) {
    VMBitmap* bitmap = load(contents(kJpeg));
    ASSERT_NE(bitmap, nullptr);
    for (const char* format : {"png", "bmp"}) {
        Vec<TUint8> encoded;
        ASSERT_TRUE(bitmap->encode(encoded, format));
        VMBitmap* back =
            load(QByteArray(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
        ASSERT_NE(back, nullptr);
        for (int y = 0; y < 600; y += 37)
            for (int x = 0; x < 512; x += 29) ASSERT_EQ(back->pixel(x, y), bitmap->pixel(x, y));
    }
}

TEST_F(ImageFilesTest, WhatIsNoImageGivesNoBitmap) {
    for (const QByteArray& data :
         {QByteArray(), QByteArray("\x89PNG\r\n\x1a\n", 8), QByteArray("GIF89a"),
          QByteArray(1000, '\0'), QByteArray("<svg>not really</svg>")}) {
        EXPECT_EQ(loadAny(data, false), 0u);
        EXPECT_EQ(loadAny(data, true), 0u);
    }
}

// Cut and bit-flipped images of every format: each load gives a bitmap or nothing, and
// whatever it gives can be measured and read.
TEST_F(ImageFilesTest, DamagedImagesNeverCrashTheLoaders) {
    std::vector<QByteArray> originals = {contents(kPng), contents(kJpeg)};
    VMBitmap* small = load(contents(kPng));
    ASSERT_NE(small, nullptr);
    // The smallest GIF there is, one transparent pixel (Qt cannot write GIF).
    originals.emplace_back("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9"
                           "\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02"
                           "\x02D\x01\x00;",
                           43);
    EXPECT_NE(load(originals.back()), nullptr);
    for (const char* format : {"bmp", "jpg"}) {
        Vec<TUint8> encoded;
        ASSERT_TRUE(small->encode(encoded, format));
        originals.emplace_back(reinterpret_cast<const char*>(encoded.data()), encoded.size());
    }
    std::mt19937 random(20261207);
    int decoded = 0;
    for (const QByteArray& original : originals) {
        for (int round = 0; round < 120; ++round) {
            QByteArray damaged = original;
            if (round % 3 == 0) {
                damaged.truncate(int(random() % original.size()));
            } else {
                const int flips = 1 + int(random() % 8);
                for (int f = 0; f < flips; ++f) {
                    // Headers are where damage matters most: half the flips land there.
                    const int limit =
                        f % 2 ? int(original.size()) : std::min(64, int(original.size()));
                    damaged[int(random() % limit)] ^= char(1 << (random() % 8));
                }
            }
            for (bool asFont : {false, true}) {
                const Address result = [&] {
                    try {
                        return loadAny(damaged, asFont);
                    } catch (const ErrorHandlingException&) {
                        return Address(0); // a font's marker row may be refused
                    }
                }();
                if (result == 0 || asFont) continue;
                VMBitmap* bitmap = bitmapObject(vm.heap(), bitmapOf(vm.heap(), result));
                ASSERT_NE(bitmap, nullptr);
                TInt32 width = 0, height = 0;
                bitmap->size(width, height);
                if (width > 0 && height > 0) (void)bitmap->pixel(width - 1, height - 1);
                ++decoded;
            }
        }
        vm.heap().collect();
    }
    EXPECT_GT(decoded, 0);
}

} // namespace
