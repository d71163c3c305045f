#pragma once

#include "ErrorHandling.h"
#include "FrameworkServices.h"
#include "NativeGroups.h"
#include "StreamHolder.h"
#include "VirtualMachine.h"

// What the file groups (FileReader, FileWriter, InputStream, OutputStream, FileSystem) share:
// their arguments, in push order, and the checks on the holders of readers and writers.
namespace fileNatives {

// The count arguments of the running native, argument 0 deepest.
class Arguments {
public:
    Arguments(VirtualMachine& vm, TInt32 count) : vm(vm), count(count) {}
    TInt32 operator[](TInt32 k) const { return vm.slot(vm.sp - count + 1 + k); }
    // The object in word 0 of the box argument k (0: unset); a null box raises code 1.
    Address object(TInt32 k) const {
        const Address box = Address((*this)[k]);
        if (box == 0) raiseNullPointer();
        return vm.arena().word(box);
    }
    Address box(TInt32 k) const {
        const Address box = Address((*this)[k]);
        if (box == 0) raiseNullPointer();
        return box;
    }
    CAppsString path(TInt32 k) const { return vm.stringValue(Address((*this)[k])).toCAppsString(); }
    void drop() { vm.sp -= count; }
    void replaceWith(TInt32 result) {
        vm.sp -= count;
        vm.push(result);
    }

private:
    VirtualMachine& vm;
    TInt32 count;
};

inline constexpr TInt32 kTrue = -1;
inline constexpr TInt32 kFalse = 0;

[[noreturn]] inline void raiseNotOpen() {
    raise(KErrIO, "File is not open");
}
[[noreturn]] inline void raiseInvalidTypeId() {
    raise(KErrVM, "Invalid TYPEID");
}
// A failed operation: code 7 with an empty message.
[[noreturn]] inline void raiseFailed() {
    raise(KErrIO);
}

// The stream of a holder of the reader (writer) kind: null when the holder is unset or its
// object is gone; a holder of another kind raises "Invalid TYPEID".
inline ZARNOK::InputStream* readerStream(const VMHeap& heap, Address holder) {
    if (holder == 0) return nullptr;
    if (StreamHolder::typeId(heap, holder) != FILE_READER_TYPE_ID) raiseInvalidTypeId();
    return StreamHolder::getInputStream(heap, holder);
}
inline ZARNOK::OutputStream* writerStream(const VMHeap& heap, Address holder) {
    if (holder == 0) return nullptr;
    if (StreamHolder::typeId(heap, holder) != FILE_WRITER_TYPE_ID) raiseInvalidTypeId();
    return StreamHolder::getOutputStream(heap, holder);
}

// The holder check of readers and writers: unset or closed is "File is not open".
inline ZARNOK::InputStream& openReader(const VMHeap& heap, Address holder) {
    if (holder == 0) raiseNotOpen();
    ZARNOK::InputStream* stream = readerStream(heap, holder);
    if (!stream || !stream->isOpen()) raiseNotOpen();
    return *stream;
}
inline ZARNOK::OutputStream& openWriter(const VMHeap& heap, Address holder) {
    if (holder == 0) raiseNotOpen();
    ZARNOK::OutputStream* stream = writerStream(heap, holder);
    if (!stream || !stream->isOpen()) raiseNotOpen();
    return *stream;
}

inline void checkPosition(TInt32 position) {
    if (position < 0) {
        CAppsString message("Position is less than zero: ");
        raise(KErrInvalidArgument, message.appendNumber(position));
    }
}

} // namespace fileNatives
