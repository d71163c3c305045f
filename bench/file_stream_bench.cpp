// Reading and writing a 100 MB file through the stream natives in 64 KiB chunks, called as
// bytecode calls them: the arguments on the operand stack, then the native call. The file
// lives in a temporary application directory; target: 500 MB/s or more each way. Figures are
// wall-clock time. On the two-core development machine (ext4, the file in the page cache):
// writing about 800 MiB/s, reading about 5.5 GiB/s.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTU_TESTS=OFF
//   cmake --build build-bench --target file_stream_bench && build-bench/bench/file_stream_bench

#include "InterpreterHarness.h"

#include "HostFileServices.h"
#include "Natives.h"
#include "QtText.h"
#include "VectorObject.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr TInt32 kChunk = 64 * 1024;
constexpr int kChunks = 1600; // 100 MiB + 4.8%: 104,857,600 bytes

class FileServices : public RecordingServices {
public:
    explicit FileServices(const QString& root) : files(fromQString(root)) {}
    ZARNOK::FileOutputStream* openFileForWriting(const CAppsString& n, bool truncate) override {
        return files.openFileForWriting(n, truncate);
    }
    ZARNOK::FileInputStream* openFileForReading(const CAppsString& n) override {
        return files.openFileForReading(n);
    }

private:
    HostFileServices files;
};

// A loaded machine whose natives reach the file services, with pinned boxes for a reader and
// a writer and a 64 KiB byte array.
struct Machine {
    QTemporaryDir directory;
    FileServices services{directory.path()};
    VirtualMachine vm;
    Address reader = 0, writer = 0, chunk = 0, path = 0;

    Machine() {
        const std::vector<std::uint8_t> image = assembleOrThrow(program(""));
        ZARNOK::MemoryInputStream stream;
        stream.setBuffer(image.data(), TUint32(image.size()));
        services.machine = &vm;
        vm.load(stream, "index.mcb", &services);
        VMHeap& heap = vm.heap();
        reader = heap.allocate(4, 0, GC_CODE_REFERENCE_BOX);
        writer = heap.allocate(4, 0, GC_CODE_REFERENCE_BOX);
        std::vector<TUint8> bytes(kChunk);
        for (TInt32 i = 0; i < kChunk; ++i) bytes[i] = TUint8(i * 7);
        chunk = newByteVectorValue(heap, bytes.data(), kChunk);
        path = vm.newStringValue(OString(vm.arena(), std::string_view("data/big.bin")));
        for (Address a : {reader, writer, chunk, path}) heap.pin(a);
    }
    void call(TInt32 group, TInt32 function, std::initializer_list<TInt32> args) {
        vm.sp = 0;
        for (TInt32 arg : args) vm.push(arg);
        callNative(vm, group, function);
    }
    void writeFile() {
        call(22, 1, {TInt32(writer), TInt32(path), 0});
        for (int i = 0; i < kChunks; ++i) call(21, 3, {TInt32(writer), TInt32(chunk)});
        call(21, 1, {TInt32(writer)});
    }
};

void BM_WriteFile(benchmark::State& state) {
    Machine m;
    for (auto _ : state) m.writeFile();
    state.SetBytesProcessed(state.iterations() * TInt64(kChunk) * kChunks);
}

void BM_ReadFile(benchmark::State& state) {
    Machine m;
    m.writeFile();
    for (auto _ : state) {
        m.call(24, 1, {TInt32(m.reader), TInt32(m.path)});
        TInt64 sum = 0;
        for (int i = 0; i < kChunks; ++i) {
            m.call(23, 3, {TInt32(m.reader), kChunk});
            const OVector bytes = OVector::ofValue(m.vm.heap(), Address(m.vm.top()), 1);
            sum += bytes.byteAt(kChunk - 1);
            // An application's loop leaves its arrays to the collection after the entry call;
            // collected every 4 MiB here, so the heap stays small.
            if (i % 64 == 63) m.vm.heap().collect();
        }
        m.call(23, 1, {TInt32(m.reader)});
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * TInt64(kChunk) * kChunks);
}

BENCHMARK(BM_WriteFile)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();

} // namespace
