#pragma once

#include "Arena.h"
#include "CAppsString.h"
#include "GCObject.h"
#include "Vec.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

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

// A word of the arena at any address, accessed with its own type: unlike a byte copy, a store
// through it cannot alias the heap's host-side bookkeeping, which keeps the hot paths short.
typedef TUint32 ArenaWord __attribute__((aligned(1)));

// A position in a LinkedList: a node number, 0 being the empty iterator.
template <class T> using LinkedListIterator = TUint32;

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
// data word 0; the handle carries a generation, and the table remembers the entry that owns
// each object, so a stale handle or one copied into another entry is refused.
class NativeObjects {
public:
    TUint32 add(std::unique_ptr<GCObject> object, Address owner);
    GCObject* find(TUint32 handle) const; // null when the handle is not live
    GCObject* find(TUint32 handle, Address owner) const;
    void destroy(TUint32 handle);
    int count() const { return live; }

private:
    struct Slot {
        std::unique_ptr<GCObject> object;
        Address owner = 0;
        TUint8 generation = 0;
    };
    const Slot* liveSlot(TUint32 handle) const;

    std::vector<Slot> slots;
    std::vector<TUint32> freeSlots;
    int live = 0;
};

// Free-list nodes, 16 bytes each, added 256 at a time. Node 0 is never used, so a node number
// of 0 means "no node".
struct ListEntry {
    TUint32 number;
    TUint32 previous;
    Address value;
    TUint32 next;
};

class NodePool {
public:
    static constexpr TUint32 kBlockSize = 256;

    // A node marked as belonging to the list with this tag (non-zero).
    TUint32 take(TUint8 tag) {
        if (freeNodes.empty()) addBlock();
        TUint32 number = freeNodes.back();
        freeNodes.pop_back();
        tags[number] = tag;
        return number;
    }
    void giveBack(TUint32 number) {
        tags[number] = 0;
        nodes[number].value = 0;
        freeNodes.push_back(number);
    }
    // The tag of a node in use, 0 for a free node or a number the pool never handed out.
    TUint8 tagOf(TUint32 number) const { return number < tags.size() ? tags[number] : 0; }
    // Whether number is a node in use that holds value (never 0: unused nodes hold 0).
    bool holds(TUint32 number, Address value) const {
        return number < nodes.size() && nodes[number].value == value;
    }
    ListEntry& operator[](TUint32 number) { return nodes[number]; }
    const ListEntry& operator[](TUint32 number) const { return nodes[number]; }

private:
    void addBlock();

    std::vector<ListEntry> nodes;
    std::vector<TUint8> tags;       // per node: the owning list's tag, 0 when free
    std::vector<TUint32> freeNodes; // the last one is handed out next
};

// Doubly linked list of addresses whose nodes come from a NodePool.
class LinkedList {
public:
    LinkedList(NodePool& pool, TUint8 tag) : pool(&pool), listTag(tag) {}
    TUint32 append(Address value) { // returns the node number
        TUint32 number = pool->take(listTag);
        ListEntry& added = (*pool)[number];
        added = {number, tail, value, 0};
        if (tail != 0)
            (*pool)[tail].next = number;
        else
            first = number;
        tail = number;
        ++nodes;
        return number;
    }
    void remove(TUint32 number) {
        ListEntry& removed = (*pool)[number];
        if (removed.previous != 0)
            (*pool)[removed.previous].next = removed.next;
        else
            first = removed.next;
        if (removed.next != 0)
            (*pool)[removed.next].previous = removed.previous;
        else
            tail = removed.previous;
        pool->giveBack(number);
        --nodes;
    }
    TUint32 head() const { return first; }
    TUint32 find(Address value) const; // 0 when absent
    int count() const { return nodes; }
    bool isTail(TUint32 number) const { return number == tail; }
    ListEntry& node(TUint32 number) const { return (*pool)[number]; }

private:
    NodePool* pool;
    TUint8 listTag;
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
    HeapEntry& entry(Address entryAddress) const {
        return *reinterpret_cast<HeapEntry*>(base + entryAddress);
    }

    // Returns the entry address; its data (entry + 24) is zero-filled.
    Address createHeapEntry(TUint32 size, TInt32 objectKind, GcCode gcCode);
    Address allocate(TUint32 size, TInt32 objectKind, GcCode gcCode) { // data address
        return createHeapEntry(size, objectKind, gcCode) + kHeaderSize;
    }
    Address allocateSlots(int slotCount, GcCode gcCode);
    // Two entries from one block, the second directly behind the first.
    void allocatePair(TUint32 sizeA, TInt32 kindA, GcCode codeA, Address& dataA, TUint32 sizeB,
                      TInt32 kindB, GcCode codeB, Address& dataB);
    // An entry of objectKind -1 whose handle word (nativeHandleOffset) holds the handle of
    // object; the entry is made large enough for it.
    Address allocateNative(std::unique_ptr<GCObject> object, TUint32 size, GcCode gcCode);
    // Where a native entry keeps its handle: word 0, except for a stream holder, whose word 0
    // is its TYPEID and word 1 its stream.
    static TUint32 nativeHandleOffset(TUint32 gcCode) {
        return gcCode == GC_CODE_STREAM_HOLDER ? 4 : 0;
    }
    // The native object behind a reference, or null when the reference is null, not a live
    // native entry, or its handle is stale.
    GCObject* nativeObject(Address reference) const;
    NativeObjects& natives() { return nativeTable; }

    void release(Address data) { // null does nothing
        if (data != 0) freeEntry(data - kHeaderSize);
    }
    Address freeEntry(Address entryAddress);
    void addEntryToFreeEntries(Address entryAddress) {
        HeapEntry* he = &entry(entryAddress);
        int indexInFreeEntries = listIndex(he->size);
        Z_CHECK(indexInFreeEntries < int(freeHeapEntries.size()));
        he->freeHeapEntryIterator = freeLists()[indexInFreeEntries].append(entryAddress);
        nonEmptyFreeLists |= 1u << indexInFreeEntries;
    }
    Address belongsToPools(Address address) const; // entry containing address, or 0
    // Free means on a free list: a node number written into a header by bytecode is not enough.
    bool isFree(Address entryAddress) const {
        if (entryAddress == 0 || entryAddress % 4 != 0) return false;
        TUint32 node = entry(entryAddress).freeHeapEntryIterator;
        return node != 0 && nodePool.holds(node, entryAddress);
    }

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
    // Bytes of entries created over the heap's life, reused space included.
    TUint64 allocatedBytes() const { return entryBytes; }
    int poolCount() const { return pools.size(); }
    Address poolStart(int index) const { return pools[index]; }
    TUint32 poolSize(int index) const { return poolSizes[index]; }
    TUint32 totalSizeOfPools() const { return totalPoolBytes; }
    const LinkedList& freeList(int sizeClass) const { return freeHeapEntries[sizeClass]; }
    // 0 for sizes below 2, else the least k with 2^k >= size.
    static int sizeClass(TUint32 size) {
        return size == 0 ? 0 : static_cast<int>(std::bit_width(size - 1));
    }

private:
    // Work items of the marker; an explicit stack keeps deep object graphs off the C++ stack.
    struct MarkTask {
        enum Kind : TUint32 { Reference, VectorField, VectorContents, Elements };
        Kind kind;
        Address address; // reference, field address or vector object
        Address buffer;  // element buffer (Elements)
        TUint32 index;   // next element (Elements); elements-are-references flag otherwise
    };

    TUint32 findFreeNode(TUint32 size) const;
    void split(Address entryAddress, TUint32 size, TUint32 node);
    Address createPool(TUint32 dataSize);
    void placeOnFreeList(Address entryAddress, TUint32 node, TUint32 otherNode);
    void unlinkNode(TUint32 node);
    TUint32 absorbFollowing(Address entryAddress);
    TUint32 joinPreceding(Address& entryAddress); // moves entryAddress to the merged entry
    void setTrailer(Address entryAddress, TUint32 size) {
        *reinterpret_cast<ArenaWord*>(base + Address(entryAddress + kHeaderSize + size)) =
            size + kEntryOverhead;
    }
    void destroyObject(Address entryAddress);
    void releaseContents(Address entryAddress);
    // Host view of length bytes at a; a range past the arena's end raises as Arena::bytes does.
    TUint8* dataBytes(Address a, TUint32 length) const {
        return TUint64(a) + length <= Arena::kSize ? base + a : space->bytes(a, length);
    }
    LinkedList* freeLists() { return freeHeapEntries.data(); }
    const LinkedList* freeLists() const { return freeHeapEntries.data(); }
    // Blocks above 2 GiB share the last list; its scan checks each size anyway.
    static int listIndex(TUint32 size) { return std::min(sizeClass(size), kFreeListCount - 1); }
    int poolContaining(Address address) const; // -1 when none
    Address entryAfter(Address entryAddress, Address tail) const;

    void beginMarking();
    void drainMarks();
    void markEntry(Address reference);
    void pushClassInstanceFields(Address reference);
    void pushTaggedReferences(Address reference);
    void pushReference(Address reference);
    void markVectorContents(const MarkTask& task);
    void markNextElement(const MarkTask& task);

    Arena* space;
    TUint8* base; // the arena's first byte
    NodePool nodePool;
    NodePool pinnedNodePool;
    TUint32 minPoolSize;
    Vec<Address> pools;
    Vec<TUint32> poolSizes;
    Vec<LinkedList> freeHeapEntries;
    TUint32 nonEmptyFreeLists = 0; // bit k set when list k has entries
    LinkedList pinnedEntries;
    int entries = 0;
    TUint64 entryBytes = 0;
    TUint32 totalPoolBytes = 0;
    TypeTables types;
    [[maybe_unused]] InterfaceForCallingGc* gcInterface;
    Vec<Address> markStack;
    std::vector<MarkTask> pendingMarks;
    std::vector<TUint32> runNodes; // sweep: the nodes of the free blocks in a run
    NativeObjects nativeTable;
};
