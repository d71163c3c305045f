// The interpreter on the bytecode programs of bench/programs, written in the assembly language;
// bench/run-vm-bench.sh compares them with the same algorithms in Lua. Also: a collection of a
// heap with 100,000 live objects, and the overhead of an entry call.

#include "AppsFileIO.h"
#include "Assembler.h"
#include "VirtualMachine.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::uint8_t> assembleProgram(const std::string& name) {
    const std::filesystem::path path =
        std::filesystem::path(__FILE__).parent_path() / "programs" / (name + ".s");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return assembleOrThrow(text.str(), path.string());
}

void load(VirtualMachine& vm, const std::vector<std::uint8_t>& bytes) {
    ZARNOK::MemoryInputStream stream;
    stream.setBuffer(bytes.data(), static_cast<TUint32>(bytes.size()));
    vm.load(stream, "index.mcb", nullptr);
}

// Loads the program, which runs main, then delivers the foreground events. Programs without
// events leave their result in a box that they make the application object.
void runProgram(benchmark::State& state, const std::string& name, TUint32 expected, int events) {
    const std::vector<std::uint8_t> bytes = assembleProgram(name);
    for (auto _ : state) {
        VirtualMachine vm;
        load(vm, bytes);
        for (int i = 0; i < events; ++i) vm.foregroundEvent();
        if (events == 0 && vm.arena().word(vm.applicationObject()) != expected)
            state.SkipWithError("wrong result");
    }
}

BENCHMARK_CAPTURE(runProgram, fib, "fib", 2178309, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runProgram, loop, "loop", 887459712, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runProgram, virtual, "virtual", 2295707264u, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runProgram, alloc, "alloc", 0, 2000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runProgram, throw, "throw", 1000000, 0)->Unit(benchmark::kMillisecond);

void collectHeapWith100000LiveObjects(benchmark::State& state) {
    VirtualMachine vm;
    load(vm, assembleProgram("live_list"));
    if (vm.heap().entryCount() < 100000) state.SkipWithError("the list is not there");
    for (auto _ : state) vm.heap().collect();
}
BENCHMARK(collectHeapWith100000LiveObjects)->Unit(benchmark::kMillisecond);

// An empty event handler and the collection after it, on a heap of 101 objects.
void entryCall(benchmark::State& state) {
    VirtualMachine vm;
    load(vm, assembleProgram("empty_event"));
    if (vm.entryHandle(VirtualMachine::EntryForegroundEvent) < 0 || vm.heap().entryCount() != 101)
        state.SkipWithError("the application is not there");
    for (auto _ : state) vm.foregroundEvent();
}
BENCHMARK(entryCall)->Unit(benchmark::kMicrosecond);

} // namespace
