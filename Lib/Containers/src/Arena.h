#pragma once

#include "Types.h"

#include <cstring>
#include <vector>

// Word, unit and byte access at arena offsets, from the arena's base address. A hot loop
// keeps a copy of its own: its base stays in a register, where the Arena's own would be
// read again after every store into the arena.
class ArenaCells {
public:
    explicit ArenaCells(TUint8* base) : base(base) {}

    TUint32 word(Address a) const { return load<TUint32>(a); }
    TInt32 int32(Address a) const { return static_cast<TInt32>(load<TUint32>(a)); }
    TUint16 unit(Address a) const { return load<TUint16>(a); }
    TUint8 byte(Address a) const { return base[a]; }
    void setWord(Address a, TUint32 v) const { store(a, v); }
    // The low word at a and the high word at a + 4, which wraps as every address does.
    void setDoubleWord(Address a, TUint64 v) const {
        if (a <= ~Address(0) - 7) return store(a, v);
        setWord(a, TUint32(v));
        setWord(a + 4u, TUint32(v >> 32));
    }
    void setUnit(Address a, TUint16 v) const { store(a, v); }
    void setByte(Address a, TUint8 v) const { base[a] = v; }

private:
    template <class T> T load(Address a) const {
        T v;
        std::memcpy(&v, base + a, sizeof v);
        return v;
    }
    template <class T> void store(Address a, T v) const { std::memcpy(base + a, &v, sizeof v); }

    TUint8* base;
};

// The address space of one machine: a 4 GiB reservation in which every 32-bit value is a
// valid offset. Bytecode may read or write any word of it; untouched pages read as zeros and
// cost nothing. Nothing the host relies on (pointers, allocator bookkeeping) is kept here.
class Arena {
public:
    static constexpr TUint64 kSize = TUint64(1) << 32;
    // Offsets below this are never handed out, so small forged values never hit an object.
    static constexpr Address kFirstUsable = 0x10000;
    static constexpr int kGranuleBits = 4; // blocks start on 16-byte boundaries

    Arena();
    ~Arena();
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Long-lived regions (the operand stack, heap pools): never returned while the arena
    // lives. Raises InvalidArgumentException when the address space is exhausted.
    Address reserve(TUint32 size);

    // Blocks that the collector never sees (shared string buffers), power-of-two sized.
    // The bookkeeping lives in host memory, so bytecode cannot corrupt it.
    Address allocate(TUint32 size);
    void release(Address block);
    // 0 when block is not a live block.
    TUint32 blockSize(Address block) const {
        const TUint8 k = liveClass(block);
        return k == 0 ? 0 : TUint32(1) << k;
    }

    TUint32 word(Address a) const { return cells().word(a); }
    TInt32 int32(Address a) const { return cells().int32(a); }
    TUint16 unit(Address a) const { return cells().unit(a); }
    TUint8 byte(Address a) const { return cells().byte(a); }
    void setWord(Address a, TUint32 v) { cells().setWord(a, v); }
    void setUnit(Address a, TUint16 v) { cells().setUnit(a, v); }
    void setByte(Address a, TUint8 v) { cells().setByte(a, v); }
    ArenaCells cells() const { return ArenaCells(base); }

    // Host pointer to length bytes at a, for bulk copies; raises InvalidArgumentException
    // when the range runs past the end of the address space.
    TUint8* bytes(Address a, TUint64 length) {
        if (length > kSize - a) [[unlikely]]
            raiseOutsideMemory();
        return base + a;
    }
    const TUint8* bytes(Address a, TUint64 length) const {
        return const_cast<Arena*>(this)->bytes(a, length);
    }
    // Typed view of a runtime structure kept in the arena (heap headers); not for natives.
    template <class T> T* at(Address a) const { return reinterpret_cast<T*>(base + a); }

    TUint64 reservedBytes() const { return top; }
    // Bytes handed out by allocate over the arena's life: what a caller's work has cost.
    TUint64 allocatedBytes() const { return handedOut; }

private:
    TUint8* const base;
    TUint64 top = kFirstUsable;
    TUint64 populated = 0; // pages below this have been brought in
    TUint64 handedOut = 0;
    void populateAhead(TUint64 start);
    [[noreturn, gnu::cold]] static void raiseOutsideMemory();
    TUint8 liveClass(Address block) const {
        return block % (1u << kGranuleBits) != 0 ? 0 : liveClasses[block >> kGranuleBits];
    }
    void setLiveClass(Address block, TUint8 sizeClass);

    std::vector<Address> freeBlocks[33];
    // Size class of every live block by its start address, 0 for none: one byte per 16-byte
    // granule of the arena, in a reservation of host memory of its own.
    TUint8* liveClasses;
};
