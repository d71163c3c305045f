// The string natives on large texts, called as bytecode would: push the arguments, run the
// native. bench/run-value-bench.sh runs the same work in Lua 5.4 beside them.

#include "VirtualMachine.h"
#include "stringNative.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr TInt32 kAppends = 1000000;
// "lorem ipsum dolor sit amet " 38836 times: about 1 MB of text.
constexpr int kPhraseCount = 38836;

Address stringValue(VirtualMachine& vm, const std::string& latin1) {
    return vm.newStringValue(OString(vm.arena(), latin1));
}

std::string megabyteText() {
    std::string text;
    for (int i = 0; i < kPhraseCount; ++i) text += "lorem ipsum dolor sit amet ";
    return text;
}

void run(VirtualMachine& vm, TInt32 function, std::initializer_list<TInt32> args) {
    vm.sp = 0;
    for (TInt32 arg : args) vm.push(arg);
    stringNative(vm, function);
}

void BM_StringAppendUnits(benchmark::State& state) {
    VirtualMachine vm;
    for (auto _ : state) {
        const Address s = stringValue(vm, "");
        for (TInt32 i = 0; i < kAppends; ++i) run(vm, 63, {TInt32(s), 'a' + i % 26});
        benchmark::DoNotOptimize(vm.arena().word(s));
        state.PauseTiming();
        vm.sp = 0;
        vm.heap().collect();
        state.ResumeTiming();
    }
}

void split(benchmark::State& state, TInt32 function, TInt32 cs) {
    VirtualMachine vm;
    const Address s = stringValue(vm, megabyteText());
    vm.heap().pin(s);
    for (auto _ : state) {
        run(vm, function, {TInt32(s), ' ', cs});
        benchmark::DoNotOptimize(vm.slot(1));
        state.PauseTiming();
        vm.sp = 0;
        vm.heap().collect();
        state.ResumeTiming();
    }
}

void BM_StringSplitExact(benchmark::State& state) {
    split(state, 53, 1);
}
void BM_StringSplitIgnoringCase(benchmark::State& state) {
    split(state, 53, 0);
}

void replaceAll(benchmark::State& state, TInt32 cs) {
    VirtualMachine vm;
    const std::string text = megabyteText();
    for (auto _ : state) {
        state.PauseTiming();
        vm.sp = 0;
        vm.heap().collect();
        const Address s = stringValue(vm, text);
        const Address pattern = stringValue(vm, "ipsum");
        const Address replacement = stringValue(vm, "IPSUM!");
        state.ResumeTiming();
        run(vm, 86, {TInt32(s), TInt32(pattern), TInt32(replacement), cs});
        benchmark::DoNotOptimize(vm.arena().word(s));
    }
}

void BM_StringReplaceAllExact(benchmark::State& state) {
    replaceAll(state, 1);
}
void BM_StringReplaceAllIgnoringCase(benchmark::State& state) {
    replaceAll(state, 0);
}

} // namespace

BENCHMARK(BM_StringAppendUnits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringSplitExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringSplitIgnoringCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringReplaceAllExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringReplaceAllIgnoringCase)->Unit(benchmark::kMillisecond);
