#include "Heap.h"
#include "OString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace {

TInt32 errorCodeOf(const std::function<void()>& action) {
    clearLastError();
    try {
        action();
    } catch (const ErrorHandlingException&) {
        return lastErrorCode();
    }
    return 0;
}

struct Usage {
    long headers, actual, wasted, outside, total, strings, bitmaps, fonts;
    long entries, pools, poolBytes, contents, freeSpace;
};

Usage usageOf(const VMHeap& heap) {
    CAppsString report;
    heap.getMemUsage(&report);
    Usage u{};
    int fields =
        std::sscanf(report.toLatin1().c_str(),
                    "\nheaders %ld + actual %ld + wasted %ld + outsideHeap %ld = total "
                    "%ld\nstringContents=%ld bitmapContents=%ld fontContents=%ld\n"
                    "nOfEntries=%ld nOfPools=%ld SzOfPools=%ld AllContents=%ld "
                    "freeSpace=%ld",
                    &u.headers, &u.actual, &u.wasted, &u.outside, &u.total, &u.strings, &u.bitmaps,
                    &u.fonts, &u.entries, &u.pools, &u.poolBytes, &u.contents, &u.freeSpace);
    EXPECT_EQ(fields, 13) << report.toLatin1();
    return u;
}

// Walks every pool and checks the heap's structure against its free lists and statistics.
// Returns the number of free entries.
int checkStructure(const VMHeap& heap) {
    std::map<Address, int> listed;
    for (int k = 0; k < VMHeap::kFreeListCount; ++k) {
        const LinkedList& list = heap.freeList(k);
        for (TUint32 node = list.head(); node != 0; node = list.node(node).next) {
            Address free = list.node(node).value;
            EXPECT_EQ(heap.entry(free).freeHeapEntryIterator, node);
            listed[free] = k;
        }
    }
    int allocated = 0, freeEntries = 0;
    long freeBytes = 0, poolBytes = 0;
    for (int p = 0; p < heap.poolCount(); ++p) {
        Address tail = heap.poolStart(p) + heap.poolSize(p) - kHeaderSize;
        EXPECT_EQ(heap.entry(heap.poolStart(p)).gcCode, GC_CODE_TERMINATOR);
        bool previousFree = false;
        Address at = heap.poolStart(p) + kEntryOverhead;
        while (at < tail) {
            const HeapEntry& he = heap.entry(at);
            EXPECT_EQ(heap.arena().word(at + kHeaderSize + he.size), he.size + kEntryOverhead);
            bool free = he.freeHeapEntryIterator != 0;
            if (free) {
                EXPECT_FALSE(previousFree) << "adjacent free entries at " << at;
                EXPECT_EQ(listed.count(at), 1u) << "free entry missing from its list";
                EXPECT_EQ(listed[at], std::min(VMHeap::sizeClass(he.size), 31));
                ++freeEntries;
                freeBytes += he.size;
            } else {
                EXPECT_LE(he.size - he.actualSize, kEntryOverhead);
                ++allocated;
            }
            previousFree = free;
            at += he.size + kEntryOverhead;
        }
        EXPECT_EQ(at, tail) << "walk missed the tail sentinel";
        EXPECT_EQ(heap.entry(tail).gcCode, GC_CODE_TERMINATOR);
        poolBytes += heap.poolSize(p);
    }
    EXPECT_EQ(freeEntries, int(listed.size()));
    EXPECT_EQ(allocated, heap.entryCount());
    Usage usage = usageOf(heap);
    EXPECT_EQ(usage.headers, 52L * heap.poolCount() + 28L * (allocated + freeEntries));
    EXPECT_EQ(usage.poolBytes, usage.freeSpace + usage.actual + usage.wasted + usage.headers);
    EXPECT_EQ(usage.poolBytes, poolBytes);
    EXPECT_EQ(usage.freeSpace, freeBytes);
    EXPECT_EQ(usage.entries, allocated);
    return freeEntries;
}

class Probe : public GCObject {
public:
    Probe(int* destroyed, Address held = 0) : destroyed(destroyed), held(held) {}
    ~Probe() override { ++*destroyed; }
    void getReferences(Vec<Address>& markStack, bool) override {
        if (held) markStack.append(held);
    }

private:
    int* destroyed;
    Address held;
};

class HeapTest : public ::testing::Test {
protected:
    // Type 1: references in fields 1 and 2, a reference vector in field 3. Type 2: a list node.
    Vec<Vec<int>> refOffsets{{}, {1, 2}, {1}};
    Vec<Vec<int>> flaggedOffsets{{}, {3}, {}};
    Vec<Vec<char>> offsetFlags{{}, {1}, {}};
    Arena arena;
    VMHeap heap{arena, 64000, TypeTables{&refOffsets, &flaggedOffsets, &offsetFlags}, nullptr};

    Address instance(Address a = 0, Address b = 0, Address vector = 0) {
        Address data = heap.allocate(16, 0, GC_CODE_CLASS_INSTANCE);
        arena.setWord(data, 1);
        arena.setWord(data + 4, a);
        arena.setWord(data + 8, b);
        arena.setWord(data + 12, vector);
        return data;
    }
    Address vectorOf(const std::vector<Address>& elements, GcCode holderCode) {
        Address buffer = heap.allocate(4 * elements.size(), 0, GC_CODE_PLAIN);
        for (size_t i = 0; i < elements.size(); ++i) arena.setWord(buffer + 4 * i, elements[i]);
        Address vector = heap.allocate(16, 0, GC_CODE_VECTOR_OBJECT);
        arena.setWord(vector + 4, buffer);
        arena.setWord(vector + 12, elements.size());
        Address holder = heap.allocate(4, 0, holderCode);
        arena.setWord(holder, vector);
        return holder;
    }
    bool alive(Address data) {
        Address entry = data - kHeaderSize;
        return heap.belongsToPools(entry) == entry && !heap.isFree(entry);
    }
    // Leaves no free entry above size class 7 by filling the rest of the first pool.
    void fillPool() {
        const LinkedList& big = heap.freeList(16);
        heap.allocate(heap.entry(big.node(big.head()).value).size, 0, GC_CODE_PLAIN);
    }
};

TEST_F(HeapTest, FreshHeapReport) {
    CAppsString report;
    EXPECT_EQ(heap.getMemUsage(&report), 80);
    EXPECT_EQ(report.toLatin1(), "\nheaders 80 + actual 0 + wasted 0 + outsideHeap 0 = total 80\n"
                                 "stringContents=0 bitmapContents=0 fontContents=0\n"
                                 "nOfEntries=0 nOfPools=1 SzOfPools=64080 AllContents=64000 "
                                 "freeSpace=64000\n");
}

TEST_F(HeapTest, SizesAreRoundedAndSlackIsKeptOnlyUpTo28Bytes) {
    Address empty = heap.allocate(0, 0, GC_CODE_PLAIN);
    Address five = heap.allocate(5, 0, GC_CODE_PLAIN);
    EXPECT_NE(empty, five);
    EXPECT_EQ(heap.belongsToPools(empty), empty - kHeaderSize);
    EXPECT_EQ(heap.entry(five - kHeaderSize).actualSize, 8u);

    Address hole = heap.allocate(100, 0, GC_CODE_PLAIN);
    fillPool();
    heap.release(hole);
    // 100 - 72 leaves exactly 28 bytes: the whole block is used.
    Address exact = heap.allocate(72, 0, GC_CODE_PLAIN);
    EXPECT_EQ(exact, hole);
    EXPECT_EQ(heap.entry(exact - kHeaderSize).size, 100u);
    heap.release(exact);
    // 32 bytes left over are split into a free entry of 4.
    Address split = heap.allocate(68, 0, GC_CODE_PLAIN);
    EXPECT_EQ(heap.entry(split - kHeaderSize).size, 68u);
    EXPECT_EQ(heap.entry(split + 72).size, 4u);
    checkStructure(heap);
}

TEST_F(HeapTest, FreeListChoiceTakesOldestOfFirstLargerListThenScansOwnList) {
    Address a = heap.allocate(200, 0, GC_CODE_PLAIN);
    heap.allocate(4, 0, GC_CODE_PLAIN);
    Address b = heap.allocate(300, 0, GC_CODE_PLAIN);
    heap.allocate(4, 0, GC_CODE_PLAIN);
    Address c = heap.allocate(250, 0, GC_CODE_PLAIN);
    heap.allocate(4, 0, GC_CODE_PLAIN);
    Address x = heap.allocate(72, 0, GC_CODE_PLAIN);
    heap.allocate(4, 0, GC_CODE_PLAIN);
    fillPool();
    for (Address object : {c, a, b, x}) heap.release(object); // list 8: c, a; 9: b; 7: x
    EXPECT_EQ(heap.allocate(100, 0, GC_CODE_PLAIN), c);
    EXPECT_EQ(heap.allocate(100, 0, GC_CODE_PLAIN), a);
    EXPECT_EQ(heap.allocate(300, 0, GC_CODE_PLAIN), b);
    // List 7 holds x (72) and the remainders of c (122) and a (72): only c's fits.
    EXPECT_EQ(heap.allocate(100, 0, GC_CODE_PLAIN), c + 100 + kEntryOverhead);
    EXPECT_EQ(heap.freeList(7).count(), 2);
    EXPECT_EQ(heap.freeList(7).node(heap.freeList(7).head()).value, x - kHeaderSize);
    checkStructure(heap);
}

TEST_F(HeapTest, BlocksThatAreCutOrMergedGoToTheTailOfTheirList) {
    Address a = heap.allocate(40000, 0, GC_CODE_PLAIN);
    Address x = heap.allocate(8, 0, GC_CODE_PLAIN);
    heap.allocate(23936, 0, GC_CODE_PLAIN); // the rest of pool 1
    Address q = heap.allocate(40000, 0, GC_CODE_PLAIN);
    heap.allocate(23972, 0, GC_CODE_PLAIN); // the rest of pool 2
    ASSERT_EQ(checkStructure(heap), 0);
    heap.release(a);
    heap.release(q); // list 16: a, q
    heap.release(x); // a and x merge and go behind q
    EXPECT_EQ(heap.allocate(8, 0, GC_CODE_PLAIN), q);
    // The rest of q goes behind a.
    EXPECT_EQ(heap.allocate(8, 0, GC_CODE_PLAIN), a);
    EXPECT_EQ(heap.allocate(8, 0, GC_CODE_PLAIN), q + 8 + kEntryOverhead);
    checkStructure(heap);
}

TEST_F(HeapTest, LargeRequestGetsAPoolOfItsOwnSize) {
    Address big = heap.allocate(100001, 0, GC_CODE_PLAIN);
    ASSERT_EQ(heap.poolCount(), 2);
    EXPECT_EQ(heap.poolSize(1), 100004u + 80);
    EXPECT_EQ(big, heap.poolStart(1) + kEntryOverhead + kHeaderSize);
    EXPECT_EQ(heap.entry(big - kHeaderSize).size, 100004u);
    EXPECT_EQ(checkStructure(heap), 1);
    heap.release(big);
    EXPECT_EQ(heap.allocate(100004, 0, GC_CODE_PLAIN), big);
}

TEST_F(HeapTest, RequestsBeyondTheAddressSpaceFailWithoutChangingTheHeap) {
    heap.allocate(8, 0, GC_CODE_PLAIN);
    EXPECT_EQ(errorCodeOf([&] { heap.allocate(0xFFFFFFF0u, 0, GC_CODE_PLAIN); }), 6);
    EXPECT_EQ(errorCodeOf([&] { heap.allocate(0xFFFFFF00u, 0, GC_CODE_PLAIN); }), 6);
    EXPECT_EQ(errorCodeOf([&] { heap.allocateSlots(-1, GC_CODE_PLAIN); }), 6);
    EXPECT_EQ(heap.entryCount(), 1);
    checkStructure(heap);
}

TEST_F(HeapTest, ThreeAdjacentFreedObjectsBecomeOneFreeEntry) {
    int order[] = {0, 1, 2};
    do {
        Address objects[3];
        for (Address& object : objects) object = heap.allocate(40, 0, GC_CODE_PLAIN);
        Address guard = heap.allocate(4, 0, GC_CODE_PLAIN);
        for (int i : order) heap.release(objects[i]);
        Address merged = objects[0] - kHeaderSize;
        EXPECT_TRUE(heap.isFree(merged));
        EXPECT_EQ(heap.entry(merged).size, 3 * 40u + 2 * kEntryOverhead);
        EXPECT_EQ(checkStructure(heap), 2);
        heap.release(guard);
        EXPECT_EQ(checkStructure(heap), 1);
    } while (std::next_permutation(order, order + 3));
}

TEST_F(HeapTest, PairSharesOneBlockAndGivesSlackToTheSecond) {
    Address first = 0, second = 0;
    heap.allocatePair(6, 0, GC_CODE_STRING, first, 4, 0, GC_CODE_REFERENCE_BOX, second);
    EXPECT_EQ(second, first + 8 + kEntryOverhead);
    EXPECT_EQ(heap.entry(first - kHeaderSize).actualSize, 8u);
    EXPECT_EQ(heap.entry(second - kHeaderSize).gcCode, GC_CODE_REFERENCE_BOX);
    EXPECT_EQ(heap.entryCount(), 2);
    checkStructure(heap);
    heap.release(first);
    heap.release(second);
    EXPECT_EQ(checkStructure(heap), 1);
}

TEST_F(HeapTest, NativeObjectsAndStringBuffersAreReleasedWithTheirEntry) {
    int destroyed = 0;
    Address stream = heap.allocateNative(std::make_unique<Probe>(&destroyed), 8, GC_CODE_FONT);
    EXPECT_NE(heap.nativeObject(stream), nullptr);

    // A handle copied into another entry is not that entry's object.
    Address forger = heap.allocate(8, -1, GC_CODE_HASH);
    arena.setWord(forger, arena.word(stream));
    EXPECT_EQ(heap.nativeObject(forger), nullptr);
    EXPECT_EQ(heap.nativeObject(stream + 4), nullptr);
    EXPECT_EQ(heap.nativeObject(0), nullptr);
    heap.release(forger);
    EXPECT_EQ(destroyed, 0);

    TUint32 handle = arena.word(stream);
    heap.release(stream);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(heap.natives().find(handle), nullptr);
    Address reused = heap.allocate(8, -1, GC_CODE_FONT);
    EXPECT_EQ(reused, stream);
    arena.setWord(reused, handle);
    EXPECT_EQ(heap.nativeObject(reused), nullptr);

    // A stream holder's word 0 is its TYPEID; the handle is word 1, cleared when it goes.
    Address holder =
        heap.allocateNative(std::make_unique<Probe>(&destroyed), 4, GC_CODE_STREAM_HOLDER);
    arena.setWord(holder, 5);
    EXPECT_NE(heap.nativeObject(holder), nullptr);
    arena.setWord(holder, arena.word(holder + 4));
    arena.setWord(holder + 4, 0);
    EXPECT_EQ(heap.nativeObject(holder), nullptr);
    arena.setWord(holder + 4, arena.word(holder));
    arena.setWord(holder, 5);
    heap.release(holder);
    EXPECT_EQ(destroyed, 2);

    Address buffer = OString(arena, std::string_view("shared text")).detach();
    ASSERT_NE(arena.blockSize(buffer), 0u);
    Address string = heap.allocate(8, -1, GC_CODE_STRING);
    arena.setWord(string + 4, buffer);
    heap.release(string);
    EXPECT_EQ(arena.blockSize(buffer), 0u);
}

TEST_F(HeapTest, ForgedHeaderWordsDoNotJoinBlocks) {
    Address a = heap.allocate(8, 0, GC_CODE_PLAIN);
    Address b = heap.allocate(8, 0, GC_CODE_PLAIN);
    Address c = heap.allocate(8, 0, GC_CODE_PLAIN);
    Address rest = heap.allocate(8, 0, GC_CODE_PLAIN) + 8 + 4;
    ASSERT_TRUE(heap.isFree(rest));
    // b claims the free list node of the pool's rest.
    heap.entry(b - kHeaderSize).freeHeapEntryIterator = heap.entry(rest).freeHeapEntryIterator;
    heap.release(a);
    EXPECT_EQ(heap.entry(a - kHeaderSize).size, 8u);
    heap.entry(b - kHeaderSize).freeHeapEntryIterator = 0;
    // b's trailer points back at the free a, which does not touch c.
    arena.setWord(c - kHeaderSize - 4, c - a);
    heap.release(c);
    EXPECT_EQ(heap.entry(a - kHeaderSize).size, 8u);
    arena.setWord(c - kHeaderSize - 4, 8 + kEntryOverhead);
    EXPECT_EQ(checkStructure(heap), 3);
}

TEST_F(HeapTest, CollectionKeepsWhatPinnedEntriesReachAndFreesCycles) {
    Address leaf = instance();
    Address root = instance(leaf);
    Address cycleA = instance();
    Address cycleB = instance(cycleA);
    arena.setWord(cycleA + 4, cycleB);
    heap.pin(root);
    heap.pin(root);
    heap.collect();
    EXPECT_TRUE(alive(root) && alive(leaf));
    EXPECT_FALSE(alive(cycleA) || alive(cycleB));
    EXPECT_EQ(heap.entry(root - kHeaderSize).marked, 0u);

    heap.unpin(root);
    EXPECT_TRUE(heap.isPinned(root));
    heap.collect();
    EXPECT_TRUE(alive(root));
    heap.unpin(root);
    EXPECT_FALSE(heap.isPinned(root));
    heap.collect();
    EXPECT_EQ(heap.entryCount(), 0);
    EXPECT_EQ(checkStructure(heap), 1);
}

TEST_F(HeapTest, VectorsKeepTheirBufferAndReferenceElements) {
    Address kept = instance(), dropped = instance();
    Address referenceVector = vectorOf({kept, 0}, GC_CODE_REFERENCE_VECTOR_HOLDER);
    Address plainVector = vectorOf({dropped}, GC_CODE_VECTOR_HOLDER);
    Address fieldElement = instance();
    Address owner = instance(0, 0, arena.word(vectorOf({fieldElement}, GC_CODE_PLAIN)));
    Address box = heap.allocate(4, 0, GC_CODE_REFERENCE_BOX);
    arena.setWord(box, plainVector);
    for (Address root : {referenceVector, box, owner}) heap.pin(root);
    heap.collect();
    Address vector = arena.word(plainVector);
    EXPECT_TRUE(alive(kept) && alive(fieldElement) && alive(vector));
    EXPECT_TRUE(alive(arena.word(vector + 4)));
    EXPECT_FALSE(alive(dropped));
    EXPECT_EQ(heap.entryCount(), 12);
}

TEST_F(HeapTest, TaggedReferencesAndNativeReferencesAreFollowed) {
    Address one = instance(), two = instance(), three = instance(), held = instance();
    Address tag1 = heap.allocate(12, 0, GC_CODE_TAGGED_REFERENCES);
    arena.setWord(tag1, 1);
    arena.setWord(tag1 + 4, one);
    arena.setWord(tag1 + 8, instance()); // not a reference under tag 1
    Address tag2 = heap.allocate(12, 0, GC_CODE_TAGGED_REFERENCES);
    arena.setWord(tag2, 2);
    arena.setWord(tag2 + 4, two);
    arena.setWord(tag2 + 8, three);
    int destroyed = 0;
    Address native =
        heap.allocateNative(std::make_unique<Probe>(&destroyed, held), 4, GC_CODE_HASH);
    for (Address root : {tag1, tag2, native}) heap.pin(root);
    heap.collect();
    EXPECT_TRUE(alive(one) && alive(two) && alive(three) && alive(held));
    EXPECT_EQ(heap.entryCount(), 7);
    heap.unpin(native);
    heap.collect();
    EXPECT_EQ(destroyed, 1);
    EXPECT_FALSE(alive(held));
}

TEST_F(HeapTest, MarkingErrors) {
    Address freed = heap.allocate(8, 0, GC_CODE_PLAIN);
    Address holder = instance(freed);
    heap.release(freed);
    EXPECT_EQ(errorCodeOf([&] { heap.mark(holder); }), KErrVM);
    EXPECT_EQ(errorCodeOf([&] { heap.mark(heap.poolStart(0) + kHeaderSize); }), KErrVM);
    EXPECT_EQ(errorCodeOf([&] { heap.mark(holder + 2); }), KErrVM);

    Address badTag = heap.allocate(12, 0, GC_CODE_TAGGED_REFERENCES);
    arena.setWord(badTag, 3);
    EXPECT_EQ(errorCodeOf([&] { heap.mark(badTag); }), KErrVM);
    Address badType = heap.allocate(4, 0, GC_CODE_CLASS_INSTANCE);
    arena.setWord(badType, 3);
    EXPECT_EQ(errorCodeOf([&] { heap.mark(badType); }), KErrInvalidArgument);

    Address negative = vectorOf({}, GC_CODE_VECTOR_HOLDER);
    arena.setWord(arena.word(negative) + 12, TUint32(-1));
    EXPECT_EQ(errorCodeOf([&] { heap.mark(negative); }), KErrIndexOutOfBounds);
    // A count beyond the buffer stops at the buffer's end.
    Address overlong = vectorOf({instance()}, GC_CODE_REFERENCE_VECTOR_HOLDER);
    arena.setWord(arena.word(overlong) + 12, 0x7FFFFFFF);
    EXPECT_EQ(errorCodeOf([&] { heap.mark(overlong); }), 0);

    // Marks left by an interrupted collection are cleared by the next sweep, which they survive.
    heap.sweep();
    EXPECT_TRUE(alive(holder) && alive(overlong));
    heap.sweep();
    EXPECT_EQ(heap.entryCount(), 0);
}

TEST_F(HeapTest, PoolLookupAndConservativeWords) {
    Address object = heap.allocate(64, 0, GC_CODE_PLAIN);
    Address freed = heap.allocate(64, 0, GC_CODE_PLAIN);
    heap.allocate(4, 0, GC_CODE_PLAIN);
    heap.release(freed);
    Address head = heap.poolStart(0);
    Address tail = head + heap.poolSize(0) - kHeaderSize;
    EXPECT_EQ(heap.belongsToPools(object + 63), object - kHeaderSize);
    EXPECT_EQ(heap.belongsToPools(head + 3), head);
    EXPECT_EQ(heap.belongsToPools(tail + 10), tail);
    EXPECT_EQ(heap.belongsToPools(head - 1), 0u);
    EXPECT_EQ(heap.belongsToPools(tail + kHeaderSize), 0u);
    // Words in free entries, sentinels or outside the pools are skipped.
    for (TUint32 word : {freed, freed + 40, head + kHeaderSize, tail + kHeaderSize, tail + 40, head,
                         0u, 12u, 0xFFFFFFFFu}) {
        EXPECT_EQ(errorCodeOf([&] { heap.markIfInHeap(word); }), 0) << word;
    }
    EXPECT_EQ(heap.entry(object - kHeaderSize).marked, 0u);
    heap.markIfInHeap(object + 50);
    EXPECT_EQ(heap.entry(object - kHeaderSize).marked, 1u);
}

TEST_F(HeapTest, LongListIsMarkedWithoutRecursion) {
    const int length = 10'000'000;
    Address head = 0;
    for (int i = 0; i < length; ++i) {
        Address node = heap.allocate(8, 0, GC_CODE_CLASS_INSTANCE);
        arena.setWord(node, 2);
        arena.setWord(node + 4, head);
        head = node;
    }
    heap.pin(head);
    heap.collect();
    EXPECT_EQ(heap.entryCount(), length);
    heap.unpin(head);
    heap.collect();
    EXPECT_EQ(heap.entryCount(), 0);
}

TEST_F(HeapTest, RandomOperationsKeepTheHeapConsistent) {
    struct Object {
        TUint32 size;
        Address target; // a box's referent, 0 for plain data
        TUint32 id;
    };
    std::map<Address, Object> live;
    std::multiset<Address> pinned;
    std::mt19937 random(12345);
    auto pick = [&](auto& container) {
        auto it = container.begin();
        std::advance(it, random() % container.size());
        return it;
    };
    auto referenced = [&](Address data) {
        for (auto& [address, object] : live)
            if (object.target == data) return true;
        return false;
    };
    auto created = [&](Address data, TUint32 size, Address target) {
        const HeapEntry& he = heap.entry(data - kHeaderSize);
        ASSERT_EQ(he.actualSize, (size + 3) & ~3u);
        const TUint8* bytes = arena.bytes(data, he.size);
        ASSERT_TRUE(std::all_of(bytes, bytes + he.size, [](TUint8 b) { return b == 0; }));
        TUint32 id = static_cast<TUint32>(random() | 1);
        if (target)
            arena.setWord(data, target);
        else if (he.actualSize >= 4)
            arena.setWord(data + he.actualSize - 4, id);
        live[data] = {he.actualSize, target, id};
    };
    // Keeps what the roots reach through boxes, as the collector must.
    auto survivors = [&](std::vector<Address> roots) {
        std::set<Address> reached;
        while (!roots.empty()) {
            Address at = roots.back();
            roots.pop_back();
            if (reached.insert(at).second && live[at].target) roots.push_back(live[at].target);
        }
        std::erase_if(live, [&](auto& item) { return !reached.count(item.first); });
    };
    auto sizeOf = [&]() -> TUint32 {
        int kind = random() % 100;
        if (kind < 2) return 64000 + random() % 150000;
        if (kind < 10) return random() % 5000;
        return random() % 300;
    };
    for (int step = 0; step < 5000; ++step) {
        int operation = random() % 100;
        if (operation < 35 || live.size() < 4) {
            TUint32 size = sizeOf();
            created(heap.allocate(size, 0, GC_CODE_PLAIN), size, 0);
        } else if (operation < 45) {
            Address box = heap.allocate(4, 0, GC_CODE_REFERENCE_BOX);
            created(box, 4, pick(live)->first);
        } else if (operation < 55) {
            Address first, second;
            TUint32 a = sizeOf(), b = random() % 64;
            heap.allocatePair(a, 0, GC_CODE_PLAIN, first, b, 0, GC_CODE_PLAIN, second);
            created(first, a, 0);
            created(second, b, 0);
        } else if (operation < 85) {
            auto victim = pick(live);
            if (referenced(victim->first) || pinned.count(victim->first)) continue;
            heap.release(victim->first);
            live.erase(victim);
        } else if (operation < 92) {
            Address object = pick(live)->first;
            if (!pinned.empty() && random() % 2) {
                auto it = pick(pinned);
                heap.unpin(*it);
                pinned.erase(it);
            } else {
                heap.pin(object);
                pinned.insert(object);
            }
        } else if (operation < 97) {
            heap.collect();
            survivors(std::vector<Address>(pinned.begin(), pinned.end()));
        } else {
            std::vector<Address> roots(pinned.begin(), pinned.end());
            for (auto& [address, object] : live)
                if (random() % 3 == 0) roots.push_back(address);
            for (Address root : roots) heap.mark(root);
            heap.sweep();
            survivors(roots);
        }
        ASSERT_EQ(heap.entryCount(), int(live.size())) << "step " << step;
        checkStructure(heap);
        long actual = 0;
        for (auto& [address, object] : live) {
            actual += object.size;
            TUint32 expected = object.target ? object.target : object.id;
            Address stored = object.target ? address : address + object.size - 4;
            if (object.target || object.size >= 4) {
                ASSERT_EQ(arena.word(stored), expected);
            }
        }
        ASSERT_EQ(usageOf(heap).actual, actual);
        if (HasFailure()) FAIL() << "step " << step;
    }
}

// A collection leaves the free lists in the order that freeing each unreachable entry in
// address order leaves them, over runs of dead entries, free blocks among them and several
// pools.
TEST(HeapSweep, ListsEndAsFreeingTheEntriesOneByOne) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        Arena swept, released;
        VMHeap a{swept, 4096, TypeTables{}, nullptr};
        VMHeap b{released, 4096, TypeTables{}, nullptr};
        std::mt19937 random(seed);
        std::vector<Address> objects;
        for (int i = 0; i < 300; ++i) {
            const TUint32 size = 4u << (random() % 8);
            const Address data = a.allocate(size, 0, GC_CODE_PLAIN);
            ASSERT_EQ(b.allocate(size, 0, GC_CODE_PLAIN), data);
            objects.push_back(data);
        }
        std::vector<Address> dead;
        for (Address data : objects) {
            switch (random() % 4) {
            case 0: // freed before the collection
                a.release(data);
                b.release(data);
                break;
            case 1: a.pin(data); break;
            default: dead.push_back(data);
            }
        }
        a.collect();
        std::sort(dead.begin(), dead.end()); // pools lie in ascending order too
        for (Address data : dead) b.release(data);
        for (int k = 0; k < VMHeap::kFreeListCount; ++k) {
            std::vector<Address> inA, inB;
            for (TUint32 n = a.freeList(k).head(); n != 0; n = a.freeList(k).node(n).next)
                inA.push_back(a.freeList(k).node(n).value);
            for (TUint32 n = b.freeList(k).head(); n != 0; n = b.freeList(k).node(n).next)
                inB.push_back(b.freeList(k).node(n).value);
            EXPECT_EQ(inA, inB) << "list " << k;
        }
        checkStructure(a);
        for (int i = 0; i < 50; ++i) {
            const TUint32 size = 4u << (random() % 9);
            EXPECT_EQ(a.allocate(size, 0, GC_CODE_PLAIN), b.allocate(size, 0, GC_CODE_PLAIN));
        }
    }
}

TEST_F(HeapTest, BrokenInvariantsStopTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Address object = heap.allocate(8, 0, GC_CODE_PLAIN);
    heap.allocate(8, 0, GC_CODE_PLAIN);
    heap.release(object);
    EXPECT_DEATH(heap.release(object),
                 "ASSERT: \"he->freeHeapEntryIterator == LinkedListIterator<HeapEntry\\*>\\(\\)\" "
                 "in Lib/VirtualMachine/src/Heap, .*freeEntry");
}

TEST_F(HeapTest, HeaderWordsOverwrittenByBytecodeEndTheApplicationWithTheFatalError) {
    // A size overwritten by bytecode must not send the sweep out of its pool.
    Address victim = heap.allocate(8, 0, GC_CODE_PLAIN);
    heap.entry(victim - kHeaderSize).size = 0x7FFFFFF0;
    EXPECT_THROW(heap.sweep(), ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrFatal);
    EXPECT_EQ(lastErrorText().toLatin1(),
              "UnknownException (CODE:11): Heap: next <= tail && next % 4 == 0");
}

} // namespace
