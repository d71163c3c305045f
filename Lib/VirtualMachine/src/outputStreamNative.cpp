// OutputStream: closing writers, asking whether they are open, and writing bytes.

#include "FileNatives.h"
#include "VectorObject.h"
#include "WrapperUtilities.h"

using namespace fileNatives;

namespace {

constexpr const char* kPrefix = "OutputStream:";

// 1: writer
void close(VirtualMachine& vm) {
    Arguments args(vm, 1);
    if (ZARNOK::OutputStream* stream = writerStream(vm.heap(), args.object(0))) stream->close();
    args.drop();
}

// 2: writer
void isOpen(VirtualMachine& vm) {
    Arguments args(vm, 1);
    ZARNOK::OutputStream* stream = writerStream(vm.heap(), args.object(0));
    args.replaceWith(stream && stream->isOpen() ? kTrue : kFalse);
}

void writeBytes(ZARNOK::OutputStream* stream, const OVector& bytes, TInt32 first, TInt32 count) {
    if (count == 0) return;
    if (!stream || !stream->write(bytes.elementBytesAt(first, count), count)) raiseFailed();
}

// 3: writer, byte array
void write(VirtualMachine& vm) {
    Arguments args(vm, 2);
    const Address holder = args.object(0);
    if (holder == 0) raiseNotOpen();
    ZARNOK::OutputStream* stream = writerStream(vm.heap(), holder);
    const OVector bytes = OVector::ofValue(vm.heap(), Address(args[1]), 1);
    writeBytes(stream, bytes, 0, bytes.count());
    args.drop();
}

// 4: writer, byte array, first, count
void writeRange(VirtualMachine& vm) {
    Arguments args(vm, 4);
    const Address holder = args.object(0);
    if (holder == 0) raiseNotOpen();
    ZARNOK::OutputStream* stream = writerStream(vm.heap(), holder);
    const OVector bytes = OVector::ofValue(vm.heap(), Address(args[1]), 1);
    const TInt32 first = args[2];
    TInt32 count = args[3];
    checkRange(0, bytes.count(), first, count);
    if (!stream || !stream->isOpen()) raiseNotOpen();
    writeBytes(stream, bytes, first, count);
    args.drop();
}

} // namespace

void outputStreamNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return close(vm);
    case 2: return isOpen(vm);
    case 3: return write(vm);
    case 4: return writeRange(vm);
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
