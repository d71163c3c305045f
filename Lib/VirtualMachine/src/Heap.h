#pragma once

#include "Arena.h"
#include "CAppsString.h"
#include "GCObject.h"
#include "Vec.h"

#include <memory>

enum GcCode : TUint32 {
    GC_CODE_FREE = 0,
    GC_CODE_CLASS_INSTANCE = 1,
    GC_CODE_PLAIN = 2,
    GC_CODE_STRING = 3,
    GC_CODE_FONT = 5,
    GC_CODE_VECTOR_HOLDER = 6,
    GC_CODE_REFERENCE_VECTOR_HOLDER = 7,
    GC_CODE_VECTOR_OBJECT = 8,
    GC_CODE_STREAM_HOLDER = 12,
    GC_CODE_REFERENCE_BOX = 14,
    GC_CODE_DATE_TIME = 15,
    GC_CODE_TAGGED_REFERENCES = 16,
    GC_CODE_HASH = 17,
    GC_CODE_TERMINATOR = 18,
};

// The header in front of every block of a pool, in the arena. The block's data follows it,
// then one trailer word holding size + 28 (boundary tags in both directions).
struct HeapEntry {
    TUint32 actualSize;
    TUint32 size;
    TInt32 objectKind; // -1: data word 0 is a native-object handle (0: none), 0: plain data
    TUint32 marked;
    TUint32 gcCode;
    TUint32 freeHeapEntryIterator; // node number on its free list; 0 while allocated
};
static_assert(sizeof(HeapEntry) == 24);

constexpr TUint32 kHeaderSize = sizeof(HeapEntry);
constexpr TUint32 kEntryOverhead = kHeaderSize + 4;

// The type tables the loader fills; the collector reads them to find reference fields.
struct TypeTables {
    const Vec<Vec<int>>* refOffsets = nullptr;
    const Vec<Vec<int>>* flaggedOffsets = nullptr;
    const Vec<Vec<char>>* offsetFlags = nullptr;
};

// Implemented by the machine: a collection that also scans the operand stack.
class InterfaceForCallingGc {
public:
    virtual ~InterfaceForCallingGc() = default;
    virtual void collectGarbage() = 0;
};

// Host-side table of native objects. A heap entry refers to its object by a 32-bit handle in
// data word 0; the handle carries a generation so that a stale or forged one is refused.
class NativeObjects {
public:
    TUint32 add(std::unique_ptr<GCObject> object);
    GCObject* find(TUint32 handle) const; // null when the handle is not live
    void destroy(TUint32 handle);
    int count() const { return live; }

private:
    struct Slot {
        std::unique_ptr<GCObject> object;
        TUint8 generation = 0;
    };
    std::vector<Slot> slots;
    std::vector<TUint32> freeSlots;
    int live = 0;
};

// Free-list nodes, 16 bytes each, handed out in blocks of 256. Node 0 is never used, so a
// node number of 0 means "no node".
struct ListEntry {
    TUint32 number;
    TUint32 previous;
    Address value;
    TUint32 next;
};

class NodePool {
public:
    NodePool();
    ~NodePool();
    TUint32 take();
    void giveBack(TUint32 number);
    ListEntry& operator[](TUint32 number) { return blocks[number >> 8]->nodes[number & 255]; }

private:
    struct Block {
        ListEntry nodes[256];
        TUint8 inUse[256];
        TUint32 freeNumbers[256];
        int freeCount;
    };
    std::vector<std::unique_ptr<Block>> blocks;
    std::vector<TUint32> blocksWithFreeNodes;
};

// Doubly linked list of addresses whose nodes come from a NodePool.
class LinkedList {
public:
    explicit LinkedList(NodePool& pool) : pool(&pool) {}
    TUint32 append(Address value); // returns the node number
    void remove(TUint32 node);
    TUint32 head() const { return first; }
    TUint32 find(Address value) const; // 0 when absent
    int count() const { return nodes; }
    ListEntry& node(TUint32 number) const { return (*pool)[number]; }

private:
    NodePool* pool;
    TUint32 first = 0;
    TUint32 tail = 0;
    int nodes = 0;
};

// The machine's heap: pools in the arena carved into boundary-tagged entries, 32 power-of-two
// free lists, immediate coalescing, pinning, and the marking operations of the collector.
// References are data addresses: entry address + 24.
class VMHeap {
public:
    static constexpr int kFreeListCount = 32;

    VMHeap(Arena& arena, TUint32 minPoolSize, TypeTables types, InterfaceForCallingGc* gc);
    ~VMHeap();
    VMHeap(const VMHeap&) = delete;
    VMHeap& operator=(const VMHeap&) = delete;

    Arena& arena() const { return *space; }
    HeapEntry& entry(Address entryAddress) const { return *space->at<HeapEntry>(entryAddress); }

    // Returns the entry address; its data (entry + 24) is zero-filled.
    Address createHeapEntry(TUint32 size, TInt32 objectKind, GcCode gcCode);
    Address allocate(TUint32 size, TInt32 objectKind, GcCode gcCode); // data address
    Address allocateSlots(int slotCount, GcCode gcCode);
    // Two entries from one block, the second directly behind the first.
    void allocatePair(TUint32 sizeA, TInt32 kindA, GcCode codeA, Address& dataA, TUint32 sizeB,
                      TInt32 kindB, GcCode codeB, Address& dataB);
    // An entry of objectKind -1 whose word 0 is the handle of object; size >= 4.
    Address allocateNative(std::unique_ptr<GCObject> object, TUint32 size, GcCode gcCode);
    // The native object behind a reference, or null when the reference is null, not a live
    // native entry, or its handle is stale.
    GCObject* nativeObject(Address reference) const;
    NativeObjects& natives() { return nativeTable; }

    void release(Address data); // null does nothing
    Address freeEntry(Address entryAddress);
    void addEntryToFreeEntries(Address entryAddress);
    Address belongsToPools(Address address) const; // entry containing address, or 0

    void mark(Address reference);
    void markVectorField(Address fieldAddress, bool elementsAreReferences);
    void markIfInHeap(TUint32 word);

    void pin(Address reference);
    void unpin(Address reference);
    bool isPinned(Address reference) const;

    void collect();
    void sweep();
    int getMemUsage(CAppsString* report) const;

    int entryCount() const { return entries; }
    int poolCount() const { return pools.size(); }
    Address poolStart(int index) const { return pools[index]; }
    TUint32 poolSize(int index) const { return poolSizes[index]; }
    TUint32 totalSizeOfPools() const { return totalPoolBytes; }
    const LinkedList& freeList(int sizeClass) const { return freeHeapEntries[sizeClass]; }
    static int sizeClass(TUint32 size);

private:
    Address createPool(TUint32 dataSize);
    void removeFromFreeEntries(Address entryAddress);
    void destroyObject(Address entryAddress);
    Address nextEntry(Address entryAddress) const;
    Address previousEntry(Address entryAddress) const;
    void markFromStack();

    Arena* space;
    NodePool nodePool;
    NodePool pinnedNodePool;
    TUint32 minPoolSize;
    Vec<Address> pools;
    Vec<TUint32> poolSizes;
    Vec<LinkedList> freeHeapEntries;
    LinkedList pinnedEntries;
    int entries = 0;
    TUint32 totalPoolBytes = 0;
    TypeTables types;
    InterfaceForCallingGc* gcInterface;
    Vec<Address> markStack;
    NativeObjects nativeTable;
};
