#include "Arena.h"

#include "ErrorHandling.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

namespace {

// A guard beyond 4 GiB lets an access at 0xFFFFFFFF read its remaining bytes as zeros.
constexpr TUint64 kGuard = 0x10000;
// The smallest block is one granule.
constexpr int kMinBlockClass = Arena::kGranuleBits;
constexpr TUint64 kGranules = Arena::kSize >> Arena::kGranuleBits;

int blockClass(TUint32 size) {
    int k = kMinBlockClass;
    while ((TUint64(1) << k) < size) ++k;
    return k;
}

// Address space of which only the pages written cost memory; unwritten ones read as zeros.
// Small pages throughout: see docs/ARCHITECTURE.md for why not huge ones.
void* reserveZeroed(TUint64 bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
}

} // namespace

Arena::Arena() : base(static_cast<TUint8*>(reserveZeroed(kSize + kGuard))) {
    try {
        liveClasses = static_cast<TUint8*>(reserveZeroed(kGranules));
    } catch (...) {
        munmap(base, kSize + kGuard);
        throw;
    }
}

Arena::~Arena() {
    munmap(base, kSize + kGuard);
    munmap(liveClasses, kGranules);
}

Address Arena::reserve(TUint32 size) {
    TUint64 aligned = (TUint64(size) + 15) & ~TUint64(15);
    if (top + aligned > kSize) raise(KErrInvalidArgument, "Out of memory");
    Address start = static_cast<Address>(top);
    top += aligned;
    populateAhead(start);
    return start;
}

// The heap clears what it reserves at once, so the pages of small reservations are brought in
// a batch at a time: one call instead of a page fault for each 4 KiB. A large reservation may
// be written only in part, and its pages come as they are written.
void Arena::populateAhead(TUint64 start) {
    constexpr TUint64 kBatch = TUint64(1) << 18;
    if (top <= populated) return;
    if (top - start > kBatch) {
        populated = top;
        return;
    }
    const TUint64 from = std::max(populated, start) & ~TUint64(4095);
    populated = std::min((top + kBatch - 1) & ~(kBatch - 1), kSize);
    madvise(base + from, populated - from, MADV_POPULATE_WRITE);
}

Address Arena::allocate(TUint32 size) {
    int k = blockClass(size);
    if (k > 31) raise(KErrInvalidArgument, "Out of memory");
    Address block;
    if (!freeBlocks[k].empty()) {
        block = freeBlocks[k].back();
        freeBlocks[k].pop_back();
    } else {
        block = reserve(TUint32(1) << k);
    }
    setLiveClass(block, static_cast<TUint8>(k));
    handedOut += TUint64(1) << k;
    return block;
}

void Arena::release(Address block) {
    const TUint8 k = liveClass(block);
    if (k == 0) return;
    freeBlocks[k].push_back(block);
    setLiveClass(block, 0);
}

void Arena::setLiveClass(Address block, TUint8 sizeClass) {
    liveClasses[block >> kGranuleBits] = sizeClass;
}

void Arena::raiseOutsideMemory() {
    raise(KErrInvalidArgument, "Address range outside memory");
}
