// 1,000,000 Fixed multiplications and 1,000,000 Math: sine calls through the natives, as
// bytecode would run them: the arguments written to the operand stack as the interpreter's
// push instructions do, the native run, the result taken from the stack.

#include "NumericNatives.h"

#include <benchmark/benchmark.h>

namespace {

constexpr TInt32 kOperations = 1000000;

// Each product feeds the next and stays on the stack as the next first argument, as in a
// loop that scales a value: 1.000001^1000000 ~ e.
void BM_FixedMultiply(benchmark::State& state) {
    VirtualMachine vm;
    const TInt64 factor = ORaw::kOne + 4295; // 1.000001
    for (auto _ : state) {
        setFixedAt(vm, 1, ORaw::kOne);
        for (TInt32 i = 0; i < kOperations; ++i) {
            setFixedAt(vm, 3, factor);
            vm.sp = 4;
            fixedNative(vm, 9);
        }
        benchmark::DoNotOptimize(fixedAt(vm, 1));
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
            setFixedAt(vm, 1, x);
            vm.sp = 2;
            mathNative(vm, 1);
            sum += fixedAt(vm, 1);
            x += step;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kOperations);
}

} // namespace

BENCHMARK(BM_FixedMultiply)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MathSine)->Unit(benchmark::kMillisecond);
