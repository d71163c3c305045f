#pragma once

#include "Heap.h"

#include <cstddef>
#include <cstring>

// A vector object (OVector) in the machine's heap: four words in an entry of objectKind -1
// and gc code 8:
//   word 0  0 (no native handle)
//   word 1  element buffer: an entry of its own (objectKind 0, gc code 2) of
//           capacity x element bytes, or 0
//   word 2  capacity in elements
//   word 3  count in elements
// The collector follows the buffer only while the count is above 0, so an empty vector never
// keeps a buffer: one would be freed behind its back.
//
// A vector value is the address of a word that refers to the vector object: a holder entry
// (gc code 6, or 7 when the elements are references) or a vector field of an object.
//
// OVector is a view on such an object for one element size (1, 4, 8, 12 or 16 bytes). Its
// words live in the arena, where bytecode can change them, so every view is checked when it
// is opened. Whenever a buffer is made for n elements its capacity is max(10, 1.2 n).
class OVector {
public:
    static constexpr TUint32 kObjectBytes = 16;
    static constexpr TInt32 kMinCapacity = 10;

    // A new vector object with count zeroed elements. A negative count or one that would not
    // fit in memory raises code 6.
    static OVector create(VMHeap& heap, TInt32 elementBytes, TInt32 count);
    // The vector object at object; null raises code 1 "NULL pointer", anything that is not a
    // consistent vector object of this element size raises code 10.
    // (Inline: natives open a vector on every call.)
    static OVector open(VMHeap& heap, Address object, TInt32 elementBytes) {
        if (object == 0) raiseNullPointer();
        OVector vector(heap, object, elementBytes);
        vector.checkConsistent();
        return vector;
    }
    // The vector a vector value refers to (word 0 of the holder or field), checked as open.
    static OVector ofValue(VMHeap& heap, Address value, TInt32 elementBytes) {
        if (value == 0) raiseNullPointer();
        return open(heap, heap.arena().word(value), elementBytes);
    }

    Address object() const { return address; }
    TInt32 elementBytes() const { return bytesPerElement; }
    TInt32 count() const { return arena().int32(address + 12); }
    TInt32 capacity() const { return arena().int32(address + 8); }
    Address elements() const { return arena().word(address + 4); } // 0 while empty
    Address elementAddress(TInt32 index) const {
        return elements() + TUint32(index) * bytesPerElement;
    }
    // Host view of count elements from index; valid until the buffer changes.
    TUint8* elementBytesAt(TInt32 index, TInt32 n) const {
        return arena().bytes(elementAddress(index), TUint64(n) * bytesPerElement);
    }
    // Word 0 of element index; unchecked.
    TUint32 word(TInt32 index) const { return arena().word(elementAddress(index)); }
    // The sign-extended byte element index; unchecked.
    TInt32 byteAt(TInt32 index) const {
        return static_cast<signed char>(arena().byte(elementAddress(index)));
    }

    // Elements are given as host bytes, elementBytes() per element; they may lie in this
    // vector's own buffer.
    void append(const TUint8* element) {
        std::memcpy(elementBytesAt(extend(), 1), element, size_t(bytesPerElement));
    }
    // Adds one element at the end and returns its index; the caller writes the element.
    TInt32 extend() {
        const TInt32 n = count();
        if (n >= capacity())
            setCount(openGap(n, 1));
        else
            setCount(n + 1);
        return n;
    }
    void appendWord(TUint32 value);
    void appendBytes(const TUint8* bytes, TInt32 n) { insert(count(), bytes, n); }
    // index must be 0 .. count, n >= 0 (checked by the caller; violated here: code 2 / 6).
    void insert(TInt32 index, const TUint8* elements, TInt32 n);
    // times copies of a block of blockCount elements at index.
    void insertRepeated(TInt32 index, const TUint8* block, TInt32 blockCount, TInt32 times);
    void insertCopies(TInt32 index, const TUint8* element, TInt32 n) {
        insertRepeated(index, element, 1, n);
    }
    // first, n must describe a range inside the vector (violated: code 2).
    void remove(TInt32 first, TInt32 n);
    void clear() { remove(0, count()); }

    // A new holder entry (gc code 7 when the elements are references, else 6) whose word 0
    // refers to this vector.
    Address newHolder(bool references) const;

    // Capacity for n elements under the growth policy, clamped to what memory can hold.
    static TInt64 capacityFor(TInt64 n, TInt32 elementBytes);

private:
    OVector(VMHeap& heap, Address object, TInt32 elementBytes)
        : heap(&heap), space(&heap.arena()), address(object), bytesPerElement(elementBytes) {}
    Arena& arena() const { return *space; }
    void setCount(TInt32 n) { arena().setWord(address + 12, TUint32(n)); }
    // Replaces the buffer by one for newCount elements holding the current elements with a
    // gap of gap elements opened at index (gap may be negative: elements removed there).
    void reallocate(TInt32 newCount, TInt32 index, TInt32 gap);
    // Opens a gap of n elements at index (n > 0, index checked); returns the new count.
    TInt32 openGap(TInt32 index, TInt64 n);
    void checkConsistent() const;
    bool overlapsBuffer(const TUint8* bytes, size_t length) const;

    VMHeap* heap;
    Arena* space; // the heap's, kept at hand for the accessors
    Address address;
    TInt32 bytesPerElement;
};

// A new vector value: holder and vector object with n elements copied from host bytes.
Address newVectorValue(VMHeap& heap, TInt32 elementBytes, bool references, const TUint8* elements,
                       TInt32 n);
// A new byte vector value (holder code 6) holding count bytes.
Address newByteVectorValue(VMHeap& heap, const TUint8* bytes, TInt32 count);
