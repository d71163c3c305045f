// One frame of an application on the 800 x 480 back buffer, and pixel access on a bitmap,
// both through the graphics natives as bytecode calls them.

#include "GraphicsHandle.h"
#include "GraphicsNatives.h"
#include "HostGraphics.h"
#include "NativeGroups.h"
#include "ScreenCanvas.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <initializer_list>

namespace {

void ensureGui() {
    static QGuiApplication* application = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "graphics_bench";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    (void)application;
}

// Runs one native with the arguments pushed in order; returns the top slot afterwards.
TInt32 call(VirtualMachine& vm, void (*group)(VirtualMachine&, TInt32), TInt32 function,
            std::initializer_list<TInt32> arguments) {
    vm.sp = 0;
    for (TInt32 a : arguments) vm.push(a);
    group(vm, function);
    return vm.slot(vm.sp);
}

TInt32 box(VirtualMachine& vm, Address content = 0) {
    const Address b = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
    vm.arena().setWord(b, content);
    vm.heap().pin(b);
    return TInt32(b);
}

// 95 glyphs of 12 x 20 pixels with some coverage, as a PNG.
QByteArray glyphStrip() {
    QImage image(2 + 95 * 12, 21, QImage::Format_ARGB32);
    image.fill(0xFF000000);
    for (int g = 0; g < 95; ++g) {
        image.setPixel(1 + 12 * (g + 1), 20, 0xFF0000FF); // glyph g ends before its marker
        for (int y = 2; y < 18; ++y)
            for (int x = 2; x < 10; ++x) image.setPixel(1 + 12 * g + x, y, 0xFF0000FF);
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return data;
}

struct Gui {
    Gui() { ensureGui(); }
};

struct Scene : Gui {
    Scene() {
        installGraphics(vm);
        backBuffer.fill(Qt::black);
        sprite = box(vm);
        call(vm, bitmapNative, 1, {sprite, 64, 64, TInt32(0xFF3080C0)});
        const QByteArray strip = glyphStrip();
        const Address bytes = newByteVectorValue(
            vm.heap(), reinterpret_cast<const TUint8*>(strip.constData()), TInt32(strip.size()));
        bitmapFont = call(vm, systemNative, 12, {TInt32(bytes)});
        vm.heap().pin(Address(bitmapFont));
        nativeFont = call(vm, systemNative, 10, {});
        vm.heap().pin(Address(nativeFont));
        text = TInt32(vm.newStringValue(OString(vm.arena(), std::string_view("Score 12345"))));
        vm.heap().pin(Address(text));
    }

    void frame() {
        ScreenCanvas canvas(vm, backBuffer, QRegion(0, 0, 800, 480));
        const TInt32 screen = box(vm, canvas.handle());
        call(vm, graphicsNative, 8, {screen, TInt32(0xFF202020)});
        for (int i = 0; i < 100; ++i)
            call(vm, graphicsNative, 1, {screen, sprite, (i * 37) % 736, (i * 53) % 416, 160});
        for (int i = 0; i < 20; ++i) {
            call(vm, graphicsNative, 2,
                 {screen, text, 10 + i * 20, 10 + i * 22, TInt32(0xFFFFFFFF), bitmapFont});
        }
        for (int i = 0; i < 20; ++i) {
            call(vm, graphicsNative, 2,
                 {screen, text, 400, 10 + i * 22, TInt32(0xFFFFFF00), nativeFont});
        }
        vm.heap().unpin(Address(screen));
        vm.heap().collect();
    }

    VirtualMachine vm;
    QPixmap backBuffer{800, 480};
    TInt32 sprite = 0;
    TInt32 bitmapFont = 0;
    TInt32 nativeFont = 0;
    TInt32 text = 0;
};

void FullFrame(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) scene.frame();
}
BENCHMARK(FullFrame)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

struct Pixels : Gui {
    Pixels() {
        installGraphics(vm);
        bitmap = box(vm);
        call(vm, bitmapNative, 1, {bitmap, 1000, 1000, TInt32(0xFF000000)});
    }
    VirtualMachine vm;
    TInt32 bitmap = 0;
};

void PixelRead1M(benchmark::State& state) {
    Pixels pixels;
    TInt64 sum = 0;
    for (auto _ : state) {
        for (int y = 0; y < 1000; ++y)
            for (int x = 0; x < 1000; ++x)
                sum += call(pixels.vm, bitmapNative, 7, {pixels.bitmap, x, y});
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(PixelRead1M)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void PixelWrite1M(benchmark::State& state) {
    Pixels pixels;
    for (auto _ : state) {
        for (int y = 0; y < 1000; ++y)
            for (int x = 0; x < 1000; ++x)
                call(pixels.vm, bitmapNative, 9, {pixels.bitmap, x, y, x ^ y});
    }
}
BENCHMARK(PixelWrite1M)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
