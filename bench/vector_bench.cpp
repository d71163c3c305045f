// Appending 1,000,000 elements one by one through the vector natives, as the interpreter
// does: the vector value and the element in the top slots, then the native.

#include "VectorNatives.h"
#include "VectorObject.h"
#include "VirtualMachine.h"

#include <benchmark/benchmark.h>

namespace {

constexpr TInt32 kElements = 1000000;

void appendElements(benchmark::State& state, TInt32 elementBytes, bool primitive) {
    VirtualMachine vm;
    const TInt32 slots = elementBytes == 1 ? 1 : elementBytes / 4;
    for (auto _ : state) {
        const Address v = OVector::create(vm.heap(), elementBytes, 0).newHolder(!primitive);
        for (TInt32 i = 0; i < kElements; ++i) {
            vm.setSlot(1, TInt32(v));
            for (TInt32 s = 0; s < slots; ++s) vm.setSlot(2 + s, i);
            vm.sp = 1 + slots;
            vectorNative(vm, 19, elementBytes, primitive);
        }
        benchmark::DoNotOptimize(vm.arena().word(v));
        state.PauseTiming();
        vm.sp = 0;
        vm.heap().collect();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kElements);
}

void BM_VectorAppendWords(benchmark::State& state) {
    appendElements(state, 4, true);
}
void BM_VectorAppendBytes(benchmark::State& state) {
    appendElements(state, 1, true);
}
void BM_VectorAppendFourWords(benchmark::State& state) {
    appendElements(state, 16, true);
}

} // namespace

BENCHMARK(BM_VectorAppendWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorAppendBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorAppendFourWords)->Unit(benchmark::kMillisecond);
