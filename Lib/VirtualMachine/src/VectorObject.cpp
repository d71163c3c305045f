#include "VectorObject.h"

#include "VirtualMachine.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace {

// Far beyond what the arena can give; keeps every byte count below 2^32.
constexpr TInt64 kMaxBufferBytes = 0xFFFF0000;
constexpr TInt64 kMaxCount = std::numeric_limits<TInt32>::max();

[[noreturn]] void raiseInvalidVector() {
    raise(KErrVM, "Vector: invalid vector object");
}

bool isLiveEntry(const HeapEntry& he, TInt32 objectKind, GcCode gcCode) {
    return he.objectKind == objectKind && he.gcCode == gcCode && he.freeHeapEntryIterator == 0;
}

} // namespace

TInt64 OVector::capacityFor(TInt64 n, TInt32 elementBytes) {
    if (n < 0 || n > kMaxCount || n * elementBytes > kMaxBufferBytes) {
        raise(KErrInvalidArgument, "Out of memory");
    }
    TInt64 capacity = std::max<TInt64>(kMinCapacity, n * 6 / 5);
    return std::min({capacity, kMaxCount, kMaxBufferBytes / elementBytes});
}

OVector OVector::create(VMHeap& heap, TInt32 elementBytes, TInt32 count) {
    if (count < 0) raise(KErrInvalidArgument);
    TInt64 capacity = count > 0 ? capacityFor(count, elementBytes) : 0;
    Address buffer = 0;
    if (capacity > 0) buffer = heap.allocate(TUint32(capacity * elementBytes), 0, GC_CODE_PLAIN);
    Address object = heap.allocate(kObjectBytes, -1, GC_CODE_VECTOR_OBJECT);
    Arena& arena = heap.arena();
    arena.setWord(object + 4, buffer);
    arena.setWord(object + 8, TUint32(capacity));
    arena.setWord(object + 12, TUint32(count));
    return OVector(heap, object, elementBytes);
}

// Bytecode can write every word of the arena, so the object, its words and its buffer's
// header are checked before the buffer is touched: the element range always lies inside a
// live plain entry.
void OVector::checkConsistent() const {
    if (address % 4 != 0) raiseInvalidVector();
    const HeapEntry& he = *space->at<HeapEntry>(address - kHeaderSize);
    if (!isLiveEntry(he, -1, GC_CODE_VECTOR_OBJECT) || he.size < kObjectBytes) {
        raiseInvalidVector();
    }
    const TInt32 n = space->int32(address + 12);
    const TInt32 room = space->int32(address + 8);
    const Address buffer = space->word(address + 4);
    if (n < 0 || room < n) raiseInvalidVector();
    if (n == 0) {
        // Only a forged object gets here with a buffer; the collector no longer keeps it.
        if (buffer != 0 || room != 0) {
            space->setWord(address + 4, 0);
            space->setWord(address + 8, 0);
        }
        return;
    }
    if (buffer % 4 != 0 || buffer < kHeaderSize) raiseInvalidVector();
    const HeapEntry& bufferEntry = *space->at<HeapEntry>(buffer - kHeaderSize);
    if (!isLiveEntry(bufferEntry, 0, GC_CODE_PLAIN) ||
        bufferEntry.size < TInt64(room) * bytesPerElement) {
        raiseInvalidVector();
    }
}

void OVector::appendWord(TUint32 value) {
    TUint8 element[16] = {};
    std::memcpy(element, &value, 4);
    append(element);
}

bool OVector::overlapsBuffer(const TUint8* bytes, size_t length) const {
    if (elements() == 0) return false;
    const TUint8* start = arena().bytes(elements(), 0);
    const TUint8* end = start + size_t(capacity()) * bytesPerElement;
    std::less<const TUint8*> before;
    return before(bytes, end) && before(start, bytes + length);
}

void OVector::reallocate(TInt32 newCount, TInt32 index, TInt32 gap) {
    const Address oldBuffer = elements();
    const TInt32 oldCount = count();
    if (newCount == 0) {
        arena().setWord(address + 4, 0);
        arena().setWord(address + 8, 0);
        heap->release(oldBuffer);
        return;
    }
    const TInt64 room = capacityFor(newCount, bytesPerElement);
    const Address buffer = heap->allocate(TUint32(room * bytesPerElement), 0, GC_CODE_PLAIN);
    const TInt32 tailFrom = index + std::max(0, -gap);
    const TInt32 tailTo = index + std::max(0, gap);
    const TInt32 tail = oldCount - tailFrom;
    Arena& space = arena();
    if (index > 0) {
        std::memcpy(space.bytes(buffer, TUint64(index) * bytesPerElement),
                    space.bytes(oldBuffer, TUint64(index) * bytesPerElement),
                    size_t(index) * bytesPerElement);
    }
    if (tail > 0) {
        std::memcpy(space.bytes(buffer + TUint32(tailTo) * bytesPerElement,
                                TUint64(tail) * bytesPerElement),
                    elementBytesAt(tailFrom, tail), size_t(tail) * bytesPerElement);
    }
    space.setWord(address + 4, buffer);
    space.setWord(address + 8, TUint32(room));
    heap->release(oldBuffer);
}

TInt32 OVector::openGap(TInt32 index, TInt64 n) {
    const TInt32 oldCount = count();
    if (index < 0 || index > oldCount) raise(KErrIndexOutOfBounds);
    const TInt64 newCount = oldCount + n;
    if (newCount > kMaxCount) raise(KErrInvalidArgument, "Out of memory");
    if (newCount <= capacity()) {
        TUint8* at = elementBytesAt(index, TInt32(newCount) - index);
        std::memmove(at + size_t(n) * bytesPerElement, at,
                     size_t(oldCount - index) * bytesPerElement);
    } else {
        reallocate(TInt32(newCount), index, TInt32(n));
    }
    return TInt32(newCount);
}

void OVector::insert(TInt32 index, const TUint8* source, TInt32 n) {
    if (n < 0) raise(KErrInvalidArgument);
    if (n == 0) return;
    const size_t byteCount = size_t(n) * bytesPerElement;
    // The source may be this vector's own buffer, which opening the gap changes.
    std::vector<TUint8> copy;
    if (overlapsBuffer(source, byteCount)) {
        copy.assign(source, source + byteCount);
        source = copy.data();
    }
    const TInt32 newCount = openGap(index, n);
    std::memcpy(elementBytesAt(index, n), source, byteCount);
    setCount(newCount);
}

void OVector::insertRepeated(TInt32 index, const TUint8* block, TInt32 blockCount, TInt32 times) {
    if (blockCount < 0 || times < 0) raise(KErrInvalidArgument);
    const TInt64 n = TInt64(blockCount) * times;
    if (n == 0) return;
    if (n > kMaxCount) raise(KErrInvalidArgument, "Out of memory");
    const size_t blockBytes = size_t(blockCount) * bytesPerElement;
    std::vector<TUint8> copy(block, block + blockBytes);
    const TInt32 newCount = openGap(index, n);
    // Fill by doubling: one block, then copies of what is already there.
    TUint8* at = elementBytesAt(index, TInt32(n));
    const size_t total = size_t(n) * bytesPerElement;
    std::memcpy(at, copy.data(), blockBytes);
    for (size_t done = blockBytes; done < total;) {
        const size_t chunk = std::min(done, total - done);
        std::memcpy(at + done, at, chunk);
        done += chunk;
    }
    setCount(newCount);
}

void OVector::remove(TInt32 first, TInt32 n) {
    const TInt32 oldCount = count();
    if (first < 0 || n < 0 || TInt64(first) + n > oldCount) raise(KErrIndexOutOfBounds);
    if (n == 0) return;
    const TInt32 newCount = oldCount - n;
    // Shrink once the count falls to half the capacity; a same-sized buffer would gain nothing.
    const bool shrink = 2 * TInt64(newCount) <= capacity() &&
                        (newCount == 0 || capacityFor(newCount, bytesPerElement) != capacity());
    if (shrink) {
        reallocate(newCount, first, -n);
    } else {
        TUint8* at = elementBytesAt(first, oldCount - first);
        std::memmove(at, at + size_t(n) * bytesPerElement,
                     size_t(oldCount - first - n) * bytesPerElement);
    }
    setCount(newCount);
}

Address OVector::newHolder(bool references) const {
    const Address holder =
        heap->allocate(4, 0, references ? GC_CODE_REFERENCE_VECTOR_HOLDER : GC_CODE_VECTOR_HOLDER);
    arena().setWord(holder, address);
    return holder;
}

Address newVectorValue(VMHeap& heap, TInt32 elementBytes, bool references, const TUint8* elements,
                       TInt32 n) {
    OVector vector = OVector::create(heap, elementBytes, n);
    if (n > 0) std::memcpy(vector.elementBytesAt(0, n), elements, size_t(n) * elementBytes);
    return vector.newHolder(references);
}

Address newByteVectorValue(VMHeap& heap, const TUint8* bytes, TInt32 count) {
    return newVectorValue(heap, 1, false, bytes, count);
}

Address VirtualMachine::newByteVector(TInt32 size) {
    return OVector::create(vmHeap, 1, size).newHolder(false);
}
