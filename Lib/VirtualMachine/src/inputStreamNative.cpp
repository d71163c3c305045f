// InputStream: closing readers, asking whether they are open, and reading bytes.

#include "FileNatives.h"
#include "VectorObject.h"

using namespace fileNatives;

namespace {

constexpr const char* kPrefix = "InputStream:";

// 1: reader
void close(VirtualMachine& vm) {
    Arguments args(vm, 1);
    if (ZARNOK::InputStream* stream = readerStream(vm.heap(), args.object(0))) stream->close();
    args.drop();
}

// 2: reader
void isOpen(VirtualMachine& vm) {
    Arguments args(vm, 1);
    ZARNOK::InputStream* stream = readerStream(vm.heap(), args.object(0));
    args.replaceWith(stream && stream->isOpen() ? kTrue : kFalse);
}

// 3: reader, count -> a new byte array of exactly count bytes
void read(VirtualMachine& vm) {
    Arguments args(vm, 2);
    const TInt32 count = args[1];
    if (count < 0) raise(KErrInvalidArgument, "The number of bytes should be non-negative");
    ZARNOK::InputStream& stream = openReader(vm.heap(), args.object(0));
    // A count beyond the end fails before anything is allocated: an absurd count must not
    // take gigabytes of the heap for a read that cannot succeed.
    if (count > 0) {
        const TInt32 here = stream.position();
        if (here < 0 || count > stream.streamSize() - here) raiseFailed();
    }
    const Address value = vm.newByteVector(count);
    const OVector bytes = OVector::ofValue(vm.heap(), value, 1);
    Z_CHECK(count == bytes.count());
    if (count > 0 && !stream.read(bytes.elementBytesAt(0, count), count)) raiseFailed();
    args.replaceWith(TInt32(value));
}

} // namespace

void inputStreamNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return close(vm);
    case 2: return isOpen(vm);
    case 3: return read(vm);
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
