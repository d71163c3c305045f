// FileReader: opening files for reading, and the reader's position and size.

#include "FileNatives.h"

using namespace fileNatives;

namespace {

constexpr const char* kPrefix = "FileReader:";

// 1: target, path
void open(VirtualMachine& vm) {
    Arguments args(vm, 2);
    const Address target = args.box(0);
    const CAppsString path = args.path(1);
    if (path.isEmpty()) raise(KErrInvalidArgument, "Filename is empty");
    std::unique_ptr<ZARNOK::InputStream> stream(hostServices(vm).openFileForReading(path));
    if (!stream) {
        CAppsString message("Could not open file: ");
        raise(KErrIO, message.append(path));
    }
    vm.arena().setWord(target, StreamHolder::newReaderHolder(vm.heap(), std::move(stream)));
    args.drop();
}

// 2: reader, position
void seek(VirtualMachine& vm) {
    Arguments args(vm, 2);
    checkPosition(args[1]);
    if (!openReader(vm.heap(), args.object(0)).seek(args[1])) raiseFailed();
    args.drop();
}

} // namespace

void fileReaderNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return open(vm);
    case 2: return seek(vm);
    case 3: {
        Arguments args(vm, 1);
        return args.replaceWith(openReader(vm.heap(), args.object(0)).position());
    }
    case 4: {
        Arguments args(vm, 1);
        return args.replaceWith(openReader(vm.heap(), args.object(0)).streamSize());
    }
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
