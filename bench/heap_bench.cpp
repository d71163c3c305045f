#include "Heap.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int kBatch = 256;

// The same request sizes (8 .. 256 bytes) and release order for every allocator.
struct Pattern {
    std::vector<TUint32> sizes;
    std::vector<int> releaseOrder;
    Pattern() {
        std::mt19937 random(42);
        for (int i = 0; i < 4096; ++i) sizes.push_back(8 + random() % 249);
        for (int i = 0; i < kBatch; ++i) releaseOrder.push_back(i);
        std::shuffle(releaseOrder.begin(), releaseOrder.end(), random);
    }
};

const Pattern& pattern() {
    static const Pattern instance;
    return instance;
}

struct VmHeapAllocator {
    Arena arena;
    VMHeap heap{arena, 64000, TypeTables{}, nullptr};
    Address allocate(TUint32 size) { return heap.allocate(size, 0, GC_CODE_PLAIN); }
    void release(Address data) { heap.release(data); }
};

struct MallocAllocator {
    void* allocate(TUint32 size) { return std::malloc(size); }
    void release(void* data) { std::free(data); }
};

// One object at a time: allocate, then release at once.
template <class Allocator> void AllocateReleaseEach(benchmark::State& state) {
    Allocator allocator;
    const std::vector<TUint32>& sizes = pattern().sizes;
    size_t next = 0;
    for (auto _ : state) {
        auto data = allocator.allocate(sizes[next]);
        benchmark::DoNotOptimize(data);
        allocator.release(data);
        next = (next + 1) & (sizes.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

// 256 objects alive together, released in a shuffled order.
template <class Allocator> void AllocateReleaseBatch(benchmark::State& state) {
    Allocator allocator;
    const Pattern& p = pattern();
    using Data = decltype(allocator.allocate(0));
    std::vector<Data> live(kBatch);
    size_t next = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            live[i] = allocator.allocate(p.sizes[next]);
            next = (next + 1) & (p.sizes.size() - 1);
        }
        benchmark::DoNotOptimize(live.data());
        for (int i : p.releaseOrder) allocator.release(live[i]);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK_TEMPLATE(AllocateReleaseEach, VmHeapAllocator);
BENCHMARK_TEMPLATE(AllocateReleaseEach, MallocAllocator);
BENCHMARK_TEMPLATE(AllocateReleaseBatch, VmHeapAllocator);
BENCHMARK_TEMPLATE(AllocateReleaseBatch, MallocAllocator);

} // namespace
