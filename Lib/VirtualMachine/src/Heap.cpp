#include "Heap.h"

#include "OString.h"

#include <algorithm>
#include <bit>
#include <string>
#include <utility>

namespace {

// Header words live in the arena, where bytecode can overwrite them. A walk that meets words
// breaking the heap's structure ends the application with the fatal error and the check's
// text, in an orderly way, instead of stopping the process on an assertion.
[[noreturn]] void heapCorrupted(const char* expression) {
    raise(KErrFatal, std::string("Heap: ") + expression);
}
#define HEAP_INTACT(expression) ((expression) ? static_cast<void>(0) : heapCorrupted(#expression))

constexpr TUint32 kPoolOverhead = 80; // two sentinels and the first entry's header and trailer
constexpr TUint32 kMaxEntrySize = 0xFFFFFFFFu - kPoolOverhead - 3;
constexpr TUint32 kHandleIndexBits = 24;
constexpr TUint32 kHandleIndexMask = (1u << kHandleIndexBits) - 1;

TUint32 roundedSize(TUint32 size) {
    if (size > kMaxEntrySize) raise(KErrInvalidArgument, "Out of memory");
    return (size + 3) & ~3u;
}

} // namespace

// ---- NativeObjects

TUint32 NativeObjects::add(std::unique_ptr<GCObject> object, Address owner) {
    TUint32 index;
    if (!freeSlots.empty()) {
        index = freeSlots.back();
        freeSlots.pop_back();
    } else {
        if (slots.size() >= kHandleIndexMask) raise(KErrInvalidArgument, "Out of memory");
        index = static_cast<TUint32>(slots.size());
        slots.emplace_back();
    }
    Slot& slot = slots[index];
    slot.object = std::move(object);
    slot.owner = owner;
    ++live;
    return TUint32(slot.generation) << kHandleIndexBits | (index + 1);
}

const NativeObjects::Slot* NativeObjects::liveSlot(TUint32 handle) const {
    TUint32 index = (handle & kHandleIndexMask) - 1;
    if (index >= slots.size()) return nullptr;
    const Slot& slot = slots[index];
    if (!slot.object || slot.generation != handle >> kHandleIndexBits) return nullptr;
    return &slot;
}

GCObject* NativeObjects::find(TUint32 handle) const {
    const Slot* slot = liveSlot(handle);
    return slot ? slot->object.get() : nullptr;
}

GCObject* NativeObjects::find(TUint32 handle, Address owner) const {
    const Slot* slot = liveSlot(handle);
    return slot && slot->owner == owner ? slot->object.get() : nullptr;
}

void NativeObjects::destroy(TUint32 handle) {
    if (!liveSlot(handle)) return;
    TUint32 index = (handle & kHandleIndexMask) - 1;
    Slot& slot = slots[index];
    // Unhook first: the destructor may reach back into the table.
    std::unique_ptr<GCObject> object = std::move(slot.object);
    ++slot.generation;
    slot.owner = 0;
    freeSlots.push_back(index);
    --live;
    object.reset();
}

// ---- NodePool and LinkedList

void NodePool::addBlock() {
    TUint32 first = static_cast<TUint32>(nodes.size());
    nodes.resize(first + kBlockSize);
    tags.resize(first + kBlockSize);
    // Handed out in ascending order; node 0 stays unused so that 0 can mean "no node".
    for (TUint32 number = first + kBlockSize - 1; number > first; --number) {
        freeNodes.push_back(number);
    }
    if (first != 0) freeNodes.push_back(first);
}

TUint32 LinkedList::find(Address value) const {
    for (TUint32 number = first; number != 0; number = (*pool)[number].next) {
        if ((*pool)[number].value == value) return number;
    }
    return 0;
}

// ---- VMHeap: construction and allocation

VMHeap::VMHeap(Arena& arena, TUint32 minPoolSize, TypeTables types, InterfaceForCallingGc* gc)
    : space(&arena), base(arena.at<TUint8>(0)), minPoolSize(minPoolSize),
      pinnedEntries(pinnedNodePool, 1), types(types), gcInterface(gc) {
    for (int k = 0; k < kFreeListCount; ++k) {
        freeHeapEntries.append(LinkedList(nodePool, static_cast<TUint8>(k + 1)));
    }
    addEntryToFreeEntries(createPool(minPoolSize));
}

VMHeap::~VMHeap() = default;

Address VMHeap::allocateSlots(int slotCount, GcCode gcCode) {
    if (slotCount < 0) raise(KErrInvalidArgument);
    if (TUint64(slotCount) * 4 > kMaxEntrySize) raise(KErrInvalidArgument, "Out of memory");
    return allocate(TUint32(slotCount) * 4, 0, gcCode);
}

Address VMHeap::createHeapEntry(TUint32 requestedSize, TInt32 objectKind, GcCode gcCode) {
    TUint32 size = roundedSize(requestedSize);
    TUint32 node = findFreeNode(size);
    Address entryAddress =
        node != 0 ? nodePool[node].value : createPool(std::max(size, minPoolSize));
    HeapEntry* he = &entry(entryAddress);
    HEAP_INTACT(he->size >= size);
    split(entryAddress, size, node);
    *he = HeapEntry{size, he->size, objectKind, 0, gcCode, 0};
    std::memset(dataBytes(entryAddress + kHeaderSize, he->size), 0, he->size);
    ++entries;
    entryBytes += he->size;
    return entryAddress;
}

// The node of the free entry that a request of size takes, still on its list; 0 when none fits.
inline TUint32 VMHeap::findFreeNode(TUint32 size) const {
    int k = sizeClass(size);
    TUint32 larger = k >= kFreeListCount - 1 ? 0 : nonEmptyFreeLists & (~0u << (k + 1));
    if (larger != 0) return freeLists()[std::countr_zero(larger)].head();
    const LinkedList& own = freeLists()[listIndex(size)];
    for (TUint32 number = own.head(); number != 0; number = own.node(number).next) {
        if (entry(own.node(number).value).size >= size) return number;
    }
    return 0;
}

// Cuts size bytes off the front of the free block that node held (0: a new pool's block).
inline void VMHeap::split(Address entryAddress, TUint32 size, TUint32 node) {
    HeapEntry& he = entry(entryAddress);
    TUint32 remainder = he.size - size;
    if (remainder <= kEntryOverhead) {
        unlinkNode(node);
        return;
    }
    Address rest = entryAddress + kEntryOverhead + size;
    entry(rest) = HeapEntry{0, remainder - kEntryOverhead, 0, 0, 0, 0};
    setTrailer(rest, remainder - kEntryOverhead);
    he.size = size;
    setTrailer(entryAddress, size);
    placeOnFreeList(rest, node, 0);
}

void VMHeap::allocatePair(TUint32 sizeA, TInt32 kindA, GcCode codeA, Address& dataA, TUint32 sizeB,
                          TInt32 kindB, GcCode codeB, Address& dataB) {
    TUint32 a = roundedSize(sizeA);
    TUint32 b = roundedSize(sizeB);
    if (TUint64(a) + kEntryOverhead + b > kMaxEntrySize)
        raise(KErrInvalidArgument, "Out of memory");
    Address first = createHeapEntry(a + kEntryOverhead + b, kindA, codeA);
    HeapEntry& he = entry(first);
    Address second = first + kEntryOverhead + a;
    TUint32 secondSize = he.size - a - kEntryOverhead;
    entry(second) = HeapEntry{b, secondSize, kindB, 0, codeB, 0};
    setTrailer(second, secondSize);
    he.size = a;
    he.actualSize = a;
    setTrailer(first, a);
    ++entries;
    dataA = first + kHeaderSize;
    dataB = second + kHeaderSize;
}

Address VMHeap::allocateNative(std::unique_ptr<GCObject> object, TUint32 size, GcCode gcCode) {
    const TUint32 offset = nativeHandleOffset(gcCode);
    Address data = allocate(std::max<TUint32>(size, offset + 4), -1, gcCode);
    space->setWord(data + offset, nativeTable.add(std::move(object), data - kHeaderSize));
    return data;
}

GCObject* VMHeap::nativeObject(Address reference) const {
    if (reference == 0 || reference % 4 != 0) return nullptr;
    Address entryAddress = reference - kHeaderSize;
    const HeapEntry& he = entry(entryAddress);
    const TUint32 offset = nativeHandleOffset(he.gcCode);
    if (he.objectKind != -1 || he.size < offset + 4 || he.gcCode == GC_CODE_FREE ||
        he.gcCode == GC_CODE_TERMINATOR || he.freeHeapEntryIterator != 0) {
        return nullptr;
    }
    return nativeTable.find(space->word(reference + offset), entryAddress);
}

Address VMHeap::createPool(TUint32 dataSize) {
    TUint32 poolBytes = dataSize + kPoolOverhead;
    Address start = space->reserve(poolBytes);
    Address first = start + kEntryOverhead;
    Address tail = start + poolBytes - kHeaderSize;
    entry(start) = HeapEntry{0, 0, 0, 0, GC_CODE_TERMINATOR, 0};
    setTrailer(start, 0);
    entry(first) = HeapEntry{0, dataSize, 0, 0, 0, 0};
    setTrailer(first, dataSize);
    entry(tail) = HeapEntry{0, 0, 0, 0, GC_CODE_TERMINATOR, 0};
    pools.append(start);
    poolSizes.append(poolBytes);
    totalPoolBytes += poolBytes;
    return first;
}

// ---- Freeing and the free lists

Address VMHeap::freeEntry(Address entryAddress) {
    HeapEntry* he = entryAddress == 0 ? nullptr : &entry(entryAddress);
    Z_CHECK(he);
    // Bytecode may have written over the word of an allocated entry; only the free lists in
    // host memory say whether the entry is free.
    if (!isFree(entryAddress)) he->freeHeapEntryIterator = 0;
    Z_CHECK(he->freeHeapEntryIterator == LinkedListIterator<HeapEntry*>());
    releaseContents(entryAddress);
    TUint32 followingNode = absorbFollowing(entryAddress);
    TUint32 precedingNode = joinPreceding(entryAddress);
    placeOnFreeList(entryAddress, followingNode, precedingNode);
    return entryAddress;
}

// Free blocks never touch each other, so there is at most one free neighbour on each side. Its
// node stays on its list for placeOnFreeList; the functions return it (0: no free neighbour).
inline TUint32 VMHeap::absorbFollowing(Address entryAddress) {
    HeapEntry& he = entry(entryAddress);
    Address next = entryAddress + he.size + kEntryOverhead;
    TUint32 node = 0;
    if (isFree(next)) {
        node = std::exchange(entry(next).freeHeapEntryIterator, 0);
        he.size += entry(next).size + kEntryOverhead;
    }
    setTrailer(entryAddress, he.size);
    return node;
}

inline TUint32 VMHeap::joinPreceding(Address& entryAddress) {
    Address previous =
        entryAddress - *reinterpret_cast<ArenaWord*>(base + Address(entryAddress - 4));
    // A trailer overwritten in the arena must not join blocks that do not touch.
    if (!isFree(previous) || previous + entry(previous).size + kEntryOverhead != entryAddress) {
        return 0;
    }
    HeapEntry& merged = entry(previous);
    merged.size += entry(entryAddress).size + kEntryOverhead;
    setTrailer(previous, merged.size);
    entryAddress = previous;
    return std::exchange(merged.freeHeapEntryIterator, 0);
}

void VMHeap::destroyObject(Address entryAddress) {
    const HeapEntry& he = entry(entryAddress);
    Address data = entryAddress + kHeaderSize;
    const TUint32 offset = nativeHandleOffset(he.gcCode);
    TUint32 handle = he.size >= offset + 4 ? space->word(data + offset) : 0;
    if (handle != 0) {
        if (nativeTable.find(handle, entryAddress)) nativeTable.destroy(handle);
        space->setWord(data + offset, 0);
    } else if (he.gcCode == GC_CODE_STRING && he.size >= 8) {
        OString::releaseBuffer(*space, space->word(data + 4));
    }
}

// Puts a free entry on its list. The nodes (or 0) belong to free blocks that the entry has just
// absorbed or was cut from, still on their lists. One that is the tail of the entry's own list
// is handed over to it, which leaves the lists exactly as removing both nodes and appending
// the entry would.
inline void VMHeap::placeOnFreeList(Address entryAddress, TUint32 node, TUint32 otherNode) {
    const LinkedList& list = freeLists()[listIndex(entry(entryAddress).size)];
    TUint32 kept = 0;
    if (node != 0 && list.isTail(node)) {
        kept = node;
    } else if (otherNode != 0 && list.isTail(otherNode)) {
        kept = otherNode;
    }
    if (node != kept) unlinkNode(node);
    if (otherNode != kept) unlinkNode(otherNode);
    if (kept == 0) {
        addEntryToFreeEntries(entryAddress);
        return;
    }
    nodePool[kept].value = entryAddress;
    entry(entryAddress).freeHeapEntryIterator = kept;
}

// The node knows its list, so a size overwritten in the arena cannot unlink it from another.
inline void VMHeap::unlinkNode(TUint32 node) {
    if (node == 0) return;
    int index = nodePool.tagOf(node) - 1;
    LinkedList& list = freeLists()[index];
    list.remove(node);
    if (list.count() == 0) nonEmptyFreeLists &= ~(1u << index);
}

// ---- Pool walks

int VMHeap::poolContaining(Address address) const {
    // Pools are reserved in ascending address order.
    const Address* begin = pools.begin();
    const Address* after = std::upper_bound(begin, pools.end(), address);
    if (after == begin) return -1;
    int index = static_cast<int>(after - begin) - 1;
    return address - pools[index] < poolSizes[index] ? index : -1;
}

// The entry after entryAddress; a size overwritten in the arena must not lead a walk out of
// its pool or backwards.
Address VMHeap::entryAfter(Address entryAddress, Address tail) const {
    TUint64 next = TUint64(entryAddress) + entry(entryAddress).size + kEntryOverhead;
    HEAP_INTACT(next <= tail && next % 4 == 0);
    return static_cast<Address>(next);
}

Address VMHeap::belongsToPools(Address address) const {
    int index = poolContaining(address);
    if (index < 0) return 0;
    Address at = pools[index];
    Address tail = at + poolSizes[index] - kHeaderSize;
    const HeapEntry* last = &entry(at);
    HEAP_INTACT(last->gcCode == GC_CODE_TERMINATOR);
    for (;;) {
        Address next = entryAfter(at, tail);
        if (address < next) return at;
        if (next == tail) return tail;
        at = next;
        last = &entry(at);
        HEAP_INTACT(last->gcCode != GC_CODE_TERMINATOR);
    }
}

// Frees the unmarked entries and clears the marks. A run of neighbouring free blocks and
// unmarked entries becomes one free block, put on its list once, at the end, where freeing
// the entries one after the other would leave it.
void VMHeap::sweep() {
    for (int index = 0; index < pools.size(); ++index) {
        const Address tail = pools[index] + poolSizes[index] - kHeaderSize;
        HEAP_INTACT(entry(pools[index]).gcCode == GC_CODE_TERMINATOR);
        for (Address at = entryAfter(pools[index], tail); at != tail;) {
            if (entry(at).marked != 0 && !isFree(at)) {
                entry(at).marked = 0;
                at = entryAfter(at, tail);
                continue;
            }
            const Address start = at;
            bool freed = false;
            runNodes.clear();
            do {
                HeapEntry& he = entry(at);
                if (isFree(at)) {
                    runNodes.push_back(he.freeHeapEntryIterator);
                } else {
                    releaseContents(at);
                    freed = true;
                }
                he.marked = 0;
                at = entryAfter(at, tail);
            } while (at != tail && (entry(at).marked == 0 || isFree(at)));
            if (!freed) continue;
            for (TUint32 node : runNodes) unlinkNode(node);
            HeapEntry& block = entry(start);
            block.size = at - start - kEntryOverhead;
            block.freeHeapEntryIterator = 0;
            setTrailer(start, block.size);
            addEntryToFreeEntries(start);
        }
    }
}

// What freeing an allocated entry does before its block joins the free ones.
void VMHeap::releaseContents(Address entryAddress) {
    HeapEntry& he = entry(entryAddress);
    he.freeHeapEntryIterator = 0;
    --entries;
    if (he.objectKind != 0) destroyObject(entryAddress);
    he.objectKind = 0;
    he.gcCode = GC_CODE_FREE;
    he.marked = 0;
}

int VMHeap::getMemUsage(CAppsString* report) const {
    TInt64 memInHeHeaders = 0, actualObjectsInMem = 0, wastedMemInActualObjectBlocks = 0;
    TInt64 outsideHeap = 0, stringContents = 0, fontContents = 0, freeSpaceInPools = 0;
    TInt64 totalSizeOfPools = 0, allContents = 0;
    for (int index = 0; index < pools.size(); ++index) {
        Address tail = pools[index] + poolSizes[index] - kHeaderSize;
        TInt64 blockSum = 0;
        for (Address at = pools[index];; at = entryAfter(at, tail)) {
            const HeapEntry& he = entry(at);
            blockSum += he.size;
            if (isFree(at)) {
                freeSpaceInPools += he.size;
            } else {
                actualObjectsInMem += he.actualSize;
                wastedMemInActualObjectBlocks += TInt64(he.size) - he.actualSize;
                GCObject* object = he.objectKind == -1 ? nativeObject(at + kHeaderSize) : nullptr;
                int contentSize = object ? object->getContentSize() : 0;
                outsideHeap += contentSize;
                if (he.gcCode == GC_CODE_STRING) stringContents += contentSize;
                if (he.gcCode == GC_CODE_FONT) fontContents += contentSize;
            }
            if (at == tail) break;
        }
        totalSizeOfPools += poolSizes[index];
        memInHeHeaders += poolSizes[index] - blockSum;
        allContents += blockSum;
    }
    Z_CHECK(totalSizeOfPools ==
            freeSpaceInPools + actualObjectsInMem + wastedMemInActualObjectBlocks + memInHeHeaders);
    TInt64 total =
        memInHeHeaders + actualObjectsInMem + wastedMemInActualObjectBlocks + outsideHeap;
    if (report) {
        report->append("\nheaders ").appendNumber(memInHeHeaders);
        report->append(" + actual ").appendNumber(actualObjectsInMem);
        report->append(" + wasted ").appendNumber(wastedMemInActualObjectBlocks);
        report->append(" + outsideHeap ").appendNumber(outsideHeap);
        report->append(" = total ").appendNumber(total);
        report->append("\nstringContents=").appendNumber(stringContents);
        report->append(" bitmapContents=0 fontContents=").appendNumber(fontContents);
        report->append("\nnOfEntries=").appendNumber(entries);
        report->append(" nOfPools=").appendNumber(pools.size());
        report->append(" SzOfPools=").appendNumber(totalSizeOfPools);
        report->append(" AllContents=").appendNumber(allContents);
        report->append(" freeSpace=").appendNumber(freeSpaceInPools).append("\n");
    }
    return static_cast<int>(std::min<TInt64>(total, 0x7FFFFFFF));
}

// ---- Pinning

void VMHeap::pin(Address reference) {
    if (reference != 0) pinnedEntries.append(reference - kHeaderSize);
}

void VMHeap::unpin(Address reference) {
    TUint32 node = pinnedEntries.find(reference - kHeaderSize);
    if (node != 0) pinnedEntries.remove(node);
}

bool VMHeap::isPinned(Address reference) const {
    return reference != 0 && pinnedEntries.find(reference - kHeaderSize) != 0;
}

void VMHeap::collect() {
    markStack.clear();
    for (TUint32 node = pinnedEntries.head(); node != 0; node = pinnedEntries.node(node).next) {
        mark(pinnedEntries.node(node).value + kHeaderSize);
    }
    sweep();
}

// ---- Marking

void VMHeap::beginMarking() {
    pendingMarks.clear();
    markStack.clear();
}

void VMHeap::mark(Address reference) {
    beginMarking();
    pushReference(reference);
    drainMarks();
}

void VMHeap::markVectorField(Address fieldAddress, bool elementsAreReferences) {
    beginMarking();
    pendingMarks.push_back({MarkTask::VectorField, fieldAddress, 0, elementsAreReferences});
    drainMarks();
}

void VMHeap::markIfInHeap(TUint32 word) {
    Address entryAddress = belongsToPools(word - kHeaderSize);
    if (entryAddress == 0 || isFree(entryAddress)) return;
    TUint32 gcCode = entry(entryAddress).gcCode;
    if (gcCode == GC_CODE_FREE || gcCode == GC_CODE_TERMINATOR) return;
    mark(entryAddress + kHeaderSize);
}

void VMHeap::pushReference(Address reference) {
    pendingMarks.push_back({MarkTask::Reference, reference, 0, 0});
}

// Tasks are pushed in reverse, so they run in the order a recursive marker would visit them.
void VMHeap::drainMarks() {
    while (!pendingMarks.empty()) {
        MarkTask task = pendingMarks.back();
        pendingMarks.pop_back();
        switch (task.kind) {
        case MarkTask::Reference: markEntry(task.address); break;
        case MarkTask::VectorField: {
            Address vector = space->word(task.address);
            if (vector == 0) break;
            pendingMarks.push_back({MarkTask::VectorContents, vector, 0, task.index});
            pushReference(vector);
            break;
        }
        case MarkTask::VectorContents: markVectorContents(task); break;
        case MarkTask::Elements: markNextElement(task); break;
        }
    }
}

void VMHeap::markEntry(Address reference) {
    if (reference % 4 != 0) raise(KErrVM);
    HeapEntry& he = entry(reference - kHeaderSize);
    if (he.gcCode == GC_CODE_FREE || he.gcCode == GC_CODE_TERMINATOR) raise(KErrVM);
    if (he.marked != 0) return;
    he.marked = 1;
    switch (he.gcCode) {
    case GC_CODE_CLASS_INSTANCE: pushClassInstanceFields(reference); break;
    case GC_CODE_VECTOR_HOLDER:
    case GC_CODE_REFERENCE_VECTOR_HOLDER:
        pendingMarks.push_back(
            {MarkTask::VectorField, reference, 0, he.gcCode == GC_CODE_REFERENCE_VECTOR_HOLDER});
        break;
    case GC_CODE_REFERENCE_BOX:
        if (space->word(reference) != 0) pushReference(space->word(reference));
        break;
    case GC_CODE_TAGGED_REFERENCES: pushTaggedReferences(reference); break;
    default: break;
    }
    if (he.objectKind == -1) {
        if (GCObject* object = nativeObject(reference)) object->getReferences(markStack, true);
        for (Address held : markStack) pushReference(held);
        markStack.clear();
    }
}

void VMHeap::pushClassInstanceFields(Address reference) {
    TInt32 typeId = space->int32(reference);
    if (!types.refOffsets || typeId < 0 || typeId >= types.refOffsets->size()) {
        raise(KErrInvalidArgument);
    }
    const Vec<int>& refOffsets = (*types.refOffsets)[typeId];
    const Vec<int>& flaggedOffsets = (*types.flaggedOffsets)[typeId];
    const Vec<char>& offsetFlags = (*types.offsetFlags)[typeId];
    for (int i = flaggedOffsets.size() - 1; i >= 0; --i) {
        pendingMarks.push_back(
            {MarkTask::VectorField, reference + 4 * flaggedOffsets[i], 0, offsetFlags[i] != 0});
    }
    for (int i = refOffsets.size() - 1; i >= 0; --i) {
        Address field = space->word(reference + 4 * refOffsets[i]);
        if (field != 0) pushReference(field);
    }
}

void VMHeap::pushTaggedReferences(Address reference) {
    TUint32 tag = space->word(reference);
    if (tag != 1 && tag != 2) raise(KErrVM);
    for (TUint32 word = tag; word >= 1; --word) {
        Address held = space->word(reference + 4 * word);
        if (held != 0) pushReference(held);
    }
}

void VMHeap::markVectorContents(const MarkTask& task) {
    TInt32 count = space->int32(task.address + 12);
    if (count == 0) return;
    if (count < 0) raise(KErrIndexOutOfBounds);
    Address buffer = space->word(task.address + 4);
    if (task.index != 0) {
        pendingMarks.push_back({MarkTask::Elements, task.address, buffer, 0});
    }
    pushReference(buffer);
}

void VMHeap::markNextElement(const MarkTask& task) {
    // The count is read again for every element; the buffer's own block bounds the walk, so a
    // count overwritten by bytecode cannot send the marker through the rest of the arena.
    TUint32 capacity = space->word(task.buffer - kHeaderSize + 4) / 4;
    TInt32 count = space->int32(task.address + 12);
    if (count <= 0 || task.index >= TUint32(count) || task.index >= capacity) return;
    pendingMarks.push_back({MarkTask::Elements, task.address, task.buffer, task.index + 1});
    Address element = space->word(task.buffer + 4 * task.index);
    if (element != 0) pushReference(element);
}
