// Loading a large generated image: 50,000 methods and about 5 MB of code.

#include "AppsFileIO.h"
#include "Image.h"
#include "VirtualMachine.h"

#include <benchmark/benchmark.h>

namespace {

std::vector<std::uint8_t> largeImage() {
    Image image;
    const int methods = 50000;
    for (int i = 0; i < methods; ++i) {
        std::string name =
            "Class" + std::to_string(i % 500) + ".method" + std::to_string(i) + "<int*,string>";
        image.exportedMethods.push_back({name, i * 100, i});
        image.methods.push_back({0, 2, {0}, {}, 0, 3, {1, 2}, {{0xFF, 4}}});
    }
    for (int t = 0; t < 500; ++t) image.types.push_back({0, {1, 2, 3}, {{0, 4}}, 0, 0, {}});
    image.virtualMethods.push_back({"<application>.draw to<canvas>", {{0, 0, 0}}});
    for (int s = 0; s < 5000; ++s) image.strings.push_back("string constant " + std::to_string(s));
    // A realistic instruction mix: calls, constants, locals, arithmetic and jumps.
    const std::vector<std::uint8_t> block = {
        0x01, 0xFF, 0x14, 1, 0, 0, 0,    0x1A, 0x0E, 0,    0,    0,    0,    3, 0, 0,
        0,    0x15, 2,    0, 0, 0, 0x0C, 0xF0, 0xFF, 0x80, 0xFE, 0x27, 0x0A, 4, 0, 0x12};
    while (image.code.size() < 5'000'000)
        image.code.insert(image.code.end(), block.begin(), block.end());
    return writeImage(image);
}

void BM_LoadLargeImage(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = largeImage();
    for (auto _ : state) {
        VirtualMachine vm;
        ZARNOK::MemoryInputStream stream;
        stream.setBuffer(bytes.data(), static_cast<TUint32>(bytes.size()));
        benchmark::DoNotOptimize(vm.loadImage(stream, "index.mcb"));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_LoadLargeImage)->Unit(benchmark::kMillisecond);

} // namespace
