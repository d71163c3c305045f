// 1,000,000 Fixed multiplications and 1,000,000 Math: sine calls through the natives, as
// bytecode would run them: push the arguments, run the native, take the result.

#include "NumericNatives.h"

#include <benchmark/benchmark.h>

namespace {

constexpr TInt32 kOperations = 1000000;

// Each product feeds the next, as in a loop that scales a value: 1.000001^1000000 ~ e.
void BM_FixedMultiply(benchmark::State& state) {
    VirtualMachine vm;
    const TInt64 factor = ORaw::kOne + 4295; // 1.000001
    for (auto _ : state) {
        TInt64 value = ORaw::kOne;
        for (TInt32 i = 0; i < kOperations; ++i) {
            vm.sp = 0;
            pushFixed(vm, value);
            pushFixed(vm, factor);
            fixedNative(vm, 9);
            value = popFixed(vm);
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * kOperations);
}

void BM_MathSine(benchmark::State& state) {
    VirtualMachine vm;
    const TInt64 step = 4295; // 0.000001
    for (auto _ : state) {
        TInt64 x = 0;
        TInt64 sum = 0;
        for (TInt32 i = 0; i < kOperations; ++i) {
            vm.sp = 0;
            pushFixed(vm, x);
            mathNative(vm, 1);
            sum += popFixed(vm);
            x += step;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kOperations);
}

} // namespace

BENCHMARK(BM_FixedMultiply)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MathSine)->Unit(benchmark::kMillisecond);
