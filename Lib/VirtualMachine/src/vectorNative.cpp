// The "Vector:" groups: one operation set over vectors of bytes, of one to four words and of
// references. Arguments are read relative to sp, popped, and results pushed in their place.

#include "VectorNatives.h"

#include "VectorObject.h"
#include "VirtualMachine.h"
#include "WrapperUtilities.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kPrefix = "Vector:";

// A range (first, count) resolved against a vector of size elements; count < 0 means to the
// end. Ranges that do not lie inside are refused by the caller as its operation requires.
struct Span {
    TInt32 first;
    TInt32 count;
    bool inside;
};

Span plainRange(TInt32 first, TInt32 count, TInt32 size) {
    if (first < 0) raise(KErrRange);
    if (first > size) return {first, 0, false};
    if (count < 0) count = size - first;
    return {first, count, TInt64(first) + count <= size};
}

// The part of a source vector that extraction copies: nothing when the range is not inside.
Span extractedRange(TInt32 first, TInt32 count, TInt32 size) {
    Span span = plainRange(first, count, size);
    return span.inside ? span : Span{0, 0, true};
}

[[noreturn]] void raiseIndex(TInt32 index, TInt32 count) {
    raise(KErrIndexOutOfBounds, std::string(kPrefix) + " index " + std::to_string(index) +
                                    ", count " + std::to_string(count));
}

[[noreturn]] void raiseNegative(TInt32 value) {
    raise(KErrInvalidArgument, std::string(kPrefix) + " invalid count " + std::to_string(value));
}

class VectorCall {
public:
    VectorCall(VirtualMachine& vm, TInt32 elementBytes, bool primitive)
        : vm(vm), heap(vm.heap()), bytes(elementBytes),
          slots(elementBytes == 1 ? 1 : elementBytes / 4), primitive(primitive) {}

    void run(TInt32 function);

private:
    // Argument k of an operation whose arguments take argumentSlots slots.
    TInt32 argument(TInt32 argumentSlots, TInt32 k) const {
        return vm.slot(vm.sp - argumentSlots + 1 + k);
    }
    void drop(TInt32 argumentSlots) { vm.sp -= argumentSlots; }
    OVector vectorAt(TInt32 argumentSlots, TInt32 k) const {
        OVector v = OVector::ofValue(heap, Address(argument(argumentSlots, k)), bytes);
        vm.chargeWork(TUint64(v.count()) * TUint64(bytes));
        return v;
    }
    Address boxAt(TInt32 argumentSlots, TInt32 k) const {
        const Address box = Address(argument(argumentSlots, k));
        if (box == 0) raiseNullPointer();
        return box;
    }
    // The element whose first slot is at stack index first, read in place: slots are
    // little-endian words, so a byte element is the first byte of its slot.
    const TUint8* elementAt(TInt32 first) const {
        return vm.arena().bytes(vm.slotAddress(first), TUint64(bytes));
    }
    // Writes the element whose first slot is at stack index first into element index of v.
    void storeElement(const OVector& v, TInt32 index, TInt32 first) {
        const Address at = v.elementAddress(index);
        if (bytes == 1) {
            vm.arena().setByte(at, TUint8(vm.slot(first)));
            return;
        }
        for (TInt32 i = 0; i < slots; ++i)
            vm.arena().setWord(at + 4 * i, TUint32(vm.slot(first + i)));
    }
    void pushElement(const OVector& v, TInt32 index) {
        if (bytes == 1) {
            vm.push(v.byteAt(index));
            return;
        }
        const Address at = v.elementAddress(index);
        for (TInt32 i = 0; i < slots; ++i) vm.push(vm.arena().int32(at + 4 * i));
    }
    OVector newVector() { return OVector::create(heap, bytes, 0); }
    void store(Address box, const OVector& v) { vm.arena().setWord(box, v.object()); }
    Address holderOf(const OVector& v) const { return v.newHolder(!primitive); }
    // Copies count elements of source from first onto the end of target.
    static void appendRange(OVector& target, const OVector& source, TInt32 first, TInt32 count) {
        if (count > 0) target.appendBytes(source.elementBytesAt(first, count), count);
    }
    static void checkIndex(TInt32 index, TInt32 limit) {
        if (index < 0 || index > limit) raiseIndex(index, limit);
    }

    void storeCopy();
    void storeCopies();
    void storeEveryNth();
    void elementReference();
    void elementAddress();
    void element();
    void endElement(bool last);
    void countOf(bool emptiness);
    void insertVector(TInt32 argumentSlots, TInt32 indexArgument);
    void insertRange();
    void insertElement(TInt32 argumentSlots, bool atEnd, bool hasIndex);
    void repeat();
    void removeAt();
    void removeRange();
    void removeEnds(bool fromStart);
    void removeAll();
    void replaceRange(bool withElement);
    void storeRange();
    void storeElement();
    void checkedReplace();
    void checkedExtract();
    void replaceWithRange();
    void concatenateRanges();

    // Replaces count elements from first (a range inside v) with n elements.
    static void replace(OVector& v, TInt32 first, TInt32 count, const TUint8* elements, TInt32 n);
    static Span replacedRange(const OVector& v, TInt32 first, TInt32 count);

    VirtualMachine& vm;
    VMHeap& heap;
    const TInt32 bytes;
    const TInt32 slots;
    const bool primitive;
};

void VectorCall::run(TInt32 function) {
    switch (function) {
    case 2: return storeCopy();
    case 3: return storeCopies();
    case 4: return;
    case 5: return storeEveryNth();
    case 6: return elementReference();
    case 7:
        if (primitive) break;
        return elementAddress();
    case 8: return element();
    case 9: return endElement(false);
    case 10: return endElement(true);
    case 11: return countOf(false);
    case 12: return countOf(true);
    case 13: return insertVector(3, 2);
    case 14: return insertRange();
    case 15: return insertElement(2 + slots, false, true);
    case 16: return insertVector(2, -1);
    case 17: return insertElement(1 + slots, false, false);
    case 18: return insertVector(2, -2);
    case 19: return insertElement(1 + slots, true, false);
    case 20: return repeat();
    case 21: return removeAt();
    case 22: return removeRange();
    case 23: return removeEnds(true);
    case 24: return removeEnds(false);
    case 25: return removeAll();
    case 26: return replaceRange(false);
    case 27: return replaceRange(true);
    case 28: return storeRange();
    case 29: return storeElement();
    case 81: return checkedReplace();
    case 82: return checkedExtract();
    case 83: return replaceWithRange();
    case 84: return concatenateRanges();
    default: break;
    }
    vm.raiseUnknownFunction(kPrefix);
}

// 2: box, w
void VectorCall::storeCopy() {
    const Address box = boxAt(2, 0);
    const OVector w = vectorAt(2, 1);
    OVector copy = newVector();
    appendRange(copy, w, 0, w.count());
    store(box, copy);
    drop(2);
}

// 3: box, x, n
void VectorCall::storeCopies() {
    const TInt32 argumentSlots = 2 + slots;
    const Address box = boxAt(argumentSlots, 0);
    const TInt32 n = argument(argumentSlots, argumentSlots - 1);
    if (n < 0) raiseNegative(n);
    const TUint8* x = elementAt(vm.sp - slots);
    vm.requireBudgetFor(TUint64(n) * TUint64(bytes));
    OVector copies = newVector();
    copies.insertCopies(0, x, n);
    store(box, copies);
    drop(argumentSlots);
}

// 5: box, w, n
void VectorCall::storeEveryNth() {
    const Address box = boxAt(3, 0);
    const OVector w = vectorAt(3, 1);
    const TInt32 n = argument(3, 2);
    if (n < 1) raiseNegative(n);
    const TInt32 count = w.count();
    std::vector<TUint8> picked;
    picked.reserve(size_t(count / n + 1) * bytes);
    for (TInt32 i = 0; i < count; i += n) {
        const TUint8* at = w.elementBytesAt(i, 1);
        picked.insert(picked.end(), at, at + bytes);
        if (i > count - n) break; // i + n would overflow
    }
    OVector result = newVector();
    result.appendBytes(picked.data(), TInt32(picked.size() / bytes));
    store(box, result);
    drop(3);
}

// 6: v, i -> element address (primitive) or element (references)
void VectorCall::elementReference() {
    const OVector v = vectorAt(2, 0);
    const TInt32 i = argument(2, 1);
    if (i < 0 || i >= v.count()) raiseIndex(i, v.count());
    drop(2);
    vm.push(TInt32(primitive ? v.elementAddress(i) : v.word(i)));
}

// 7: v, i -> address of element i (references only)
void VectorCall::elementAddress() {
    const OVector v = vectorAt(2, 0);
    const TInt32 i = argument(2, 1);
    if (i < 0 || i >= v.count()) raiseIndex(i, v.count());
    drop(2);
    vm.push(TInt32(v.elementAddress(i)));
}

// 8: v, i -> x. A primitive element takes the place of i and leaves v below it.
void VectorCall::element() {
    const OVector v = vectorAt(2, 0);
    const TInt32 i = argument(2, 1);
    if (i < 0 || i >= v.count()) raiseIndex(i, v.count());
    drop(primitive ? 1 : 2);
    pushElement(v, i);
}

// 9, 10: v -> first or last element
void VectorCall::endElement(bool last) {
    const OVector v = vectorAt(1, 0);
    const TInt32 count = v.count();
    if (count == 0) raiseIndex(0, 0);
    drop(1);
    pushElement(v, last ? count - 1 : 0);
}

// 11: v -> count; 12: v -> count is 0
void VectorCall::countOf(bool emptiness) {
    const OVector v = vectorAt(1, 0);
    drop(1);
    vm.push(emptiness ? (v.count() == 0 ? 1 : 0) : v.count());
}

// 13: v, w, i; 16: v, w (prepend, index -1); 18: v, w (append, index -2)
void VectorCall::insertVector(TInt32 argumentSlots, TInt32 indexArgument) {
    OVector v = vectorAt(argumentSlots, 0);
    const OVector w = vectorAt(argumentSlots, 1);
    TInt32 index = indexArgument == -1 ? 0 : v.count();
    if (indexArgument >= 0) index = argument(argumentSlots, indexArgument);
    checkIndex(index, v.count());
    if (w.count() > 0) v.insert(index, w.elementBytesAt(0, w.count()), w.count());
    drop(argumentSlots);
}

// 14: v, w, first, count, i
void VectorCall::insertRange() {
    OVector v = vectorAt(5, 0);
    const OVector w = vectorAt(5, 1);
    const Span range = extractedRange(argument(5, 2), argument(5, 3), w.count());
    const TInt32 index = argument(5, 4);
    checkIndex(index, v.count());
    if (range.count > 0) v.insert(index, w.elementBytesAt(range.first, range.count), range.count);
    drop(5);
}

// 15: v, x, i; 17: v, x (prepend); 19: v, x (append)
void VectorCall::insertElement(TInt32 argumentSlots, bool atEnd, bool hasIndex) {
    OVector v = vectorAt(argumentSlots, 0);
    const TInt32 index =
        hasIndex ? argument(argumentSlots, argumentSlots - 1) : (atEnd ? v.count() : 0);
    checkIndex(index, v.count());
    const TInt32 first = vm.sp - argumentSlots + 2;
    if (index == v.count())
        storeElement(v, v.extend(), first); // appending: the common case, kept short
    else
        v.insert(index, elementAt(first), 1);
    drop(argumentSlots);
}

// 20: v, n
void VectorCall::repeat() {
    OVector v = vectorAt(2, 0);
    const TInt32 n = argument(2, 1);
    if (n < 0) raiseNegative(n);
    const TInt32 count = v.count();
    if (n == 0) {
        v.clear();
    } else if (n > 1 && count > 0) {
        if (TInt64(count) * n > 0x7FFFFFFF) raise(KErrInvalidArgument, "Out of memory");
        vm.requireBudgetFor(TUint64(count) * TUint64(n) * TUint64(bytes));
        v.insertRepeated(count, v.elementBytesAt(0, count), count, n - 1);
    }
    drop(2);
}

// 21: v, i
void VectorCall::removeAt() {
    OVector v = vectorAt(2, 0);
    const TInt32 i = argument(2, 1);
    if (i < 0 || i >= v.count()) raiseIndex(i, v.count());
    v.remove(i, 1);
    drop(2);
}

// 22: v, first, count; a range not inside the vector removes nothing
void VectorCall::removeRange() {
    OVector v = vectorAt(3, 0);
    const Span range = plainRange(argument(3, 1), argument(3, 2), v.count());
    if (range.inside) v.remove(range.first, range.count);
    drop(3);
}

// 23, 24: v, n
void VectorCall::removeEnds(bool fromStart) {
    OVector v = vectorAt(2, 0);
    const TInt32 n = argument(2, 1);
    if (n < 0 || n > v.count()) raiseNegative(n);
    v.remove(fromStart ? 0 : v.count() - n, n);
    drop(2);
}

// 25: v
void VectorCall::removeAll() {
    OVector v = vectorAt(1, 0);
    v.clear();
    drop(1);
}

Span VectorCall::replacedRange(const OVector& v, TInt32 first, TInt32 count) {
    const Span range = plainRange(first, count, v.count());
    if (!range.inside) {
        raiseIndex(TInt32(std::min<TInt64>(TInt64(range.first) + range.count, 0x7FFFFFFF)),
                   v.count());
    }
    return range;
}

void VectorCall::replace(OVector& v, TInt32 first, TInt32 count, const TUint8* elements, TInt32 n) {
    // Copied first: the new elements may come from v itself.
    std::vector<TUint8> copy(elements, elements + size_t(n) * v.elementBytes());
    v.remove(first, count);
    v.insert(first, copy.data(), n);
}

// 26: v, first, count, w; 27: v, first, count, x
void VectorCall::replaceRange(bool withElement) {
    const TInt32 argumentSlots = withElement ? 3 + slots : 4;
    OVector v = vectorAt(argumentSlots, 0);
    if (withElement) {
        const Span range = replacedRange(v, argument(argumentSlots, 1), argument(argumentSlots, 2));
        const TUint8* x = elementAt(vm.sp - slots + 1);
        replace(v, range.first, range.count, x, 1);
    } else {
        const OVector w = vectorAt(argumentSlots, 3);
        const Span range = replacedRange(v, argument(argumentSlots, 1), argument(argumentSlots, 2));
        replace(v, range.first, range.count, w.elementBytesAt(0, w.count()), w.count());
    }
    drop(argumentSlots);
}

// 28: box, w, first, count; a range outside w gives an empty vector
void VectorCall::storeRange() {
    const Address box = boxAt(4, 0);
    const OVector w = vectorAt(4, 1);
    const Span range = extractedRange(argument(4, 2), argument(4, 3), w.count());
    OVector result = newVector();
    appendRange(result, w, range.first, range.count);
    store(box, result);
    drop(4);
}

// 29: box, x
void VectorCall::storeElement() {
    const Address box = boxAt(1 + slots, 0);
    const TUint8* x = elementAt(vm.sp - slots + 1);
    OVector result = newVector();
    result.append(x);
    store(box, result);
    drop(1 + slots);
}

// 81: v, first, count, w
void VectorCall::checkedReplace() {
    OVector v = vectorAt(4, 0);
    const OVector w = vectorAt(4, 3);
    const TInt32 first = argument(4, 1);
    TInt32 count = argument(4, 2);
    if (first < 0) raise(KErrRange);
    checkRange(0, v.count(), first, count);
    // The shared check lets a zero count through at any first; an insertion needs first
    // inside the vector.
    if (first > v.count()) {
        raise(KErrRange, "Invalid Range, first should not be more than " +
                             std::to_string(v.count()) + ", first = " + std::to_string(first));
    }
    replace(v, first, count, w.elementBytesAt(0, w.count()), w.count());
    drop(4);
}

// 82: v, first, count -> a new vector holding the range
void VectorCall::checkedExtract() {
    const OVector v = vectorAt(3, 0);
    const TInt32 first = argument(3, 1);
    TInt32 count = argument(3, 2);
    if (first < 0) raise(KErrRange);
    checkRange(0, v.count(), first, count);
    OVector result = newVector();
    appendRange(result, v, first, count);
    drop(3);
    vm.push(TInt32(holderOf(result)));
}

// 83: v, first, count, w, wfirst, wcount
void VectorCall::replaceWithRange() {
    OVector v = vectorAt(6, 0);
    const OVector w = vectorAt(6, 3);
    const TInt32 first = argument(6, 1);
    const TInt32 wfirst = argument(6, 4);
    if (first < 0 || wfirst < 0) raise(KErrRange);
    const Span source = extractedRange(wfirst, argument(6, 5), w.count());
    const Span target = replacedRange(v, first, argument(6, 2));
    replace(v, target.first, target.count, w.elementBytesAt(source.first, source.count),
            source.count);
    drop(6);
}

// 84: v, a, b, w, c, d -> a new vector: the range (a, b) of w, then the range (c, d) of v
void VectorCall::concatenateRanges() {
    const OVector v = vectorAt(6, 0);
    const OVector w = vectorAt(6, 3);
    const TInt32 a = argument(6, 1);
    const TInt32 c = argument(6, 4);
    if (a < 0 || c < 0) raise(KErrRange);
    const Span head = extractedRange(a, argument(6, 2), w.count());
    const Span tail = extractedRange(c, argument(6, 5), v.count());
    OVector result = newVector();
    appendRange(result, w, head.first, head.count);
    appendRange(result, v, tail.first, tail.count);
    drop(6);
    vm.push(TInt32(holderOf(result)));
}

} // namespace

void vectorNative(VirtualMachine& vm, TInt32 function, TInt32 elementBytes, TBool primitive) {
    VectorCall(vm, elementBytes, primitive != EFalse).run(function);
}

void byteVectorNative(VirtualMachine& vm, TInt32 function, bool primitive) {
    vectorNative(vm, function, 1, primitive);
}

void oneWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive) {
    vectorNative(vm, function, 4, primitive);
}

void twoWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive) {
    vectorNative(vm, function, 8, primitive);
}

void threeWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive) {
    vectorNative(vm, function, 12, primitive);
}

void fourWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive) {
    vectorNative(vm, function, 16, primitive);
}
