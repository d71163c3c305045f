// FileWriter: opening files for writing (emptied, or appended to), and the writer's position
// and size.

#include "FileNatives.h"

using namespace fileNatives;

namespace {

constexpr const char* kPrefix = "FileWriter:";

// 1: target, path, mode (0 empties the file, anything else appends)
void open(VirtualMachine& vm) {
    Arguments args(vm, 3);
    const Address target = args.box(0);
    const CAppsString path = args.path(1);
    if (path.isEmpty()) raise(KErrInvalidArgument, "Filename is empty");
    std::unique_ptr<ZARNOK::OutputStream> stream(
        hostServices(vm).openFileForWriting(path, args[2] == 0));
    if (!stream) raiseFailed();
    vm.arena().setWord(target, StreamHolder::newWriterHolder(vm.heap(), std::move(stream)));
    args.drop();
}

// 2: writer, position
void seek(VirtualMachine& vm) {
    Arguments args(vm, 2);
    checkPosition(args[1]);
    if (!openWriter(vm.heap(), args.object(0)).seek(args[1])) raiseFailed();
    args.drop();
}

} // namespace

void fileWriterNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return open(vm);
    case 2: return seek(vm);
    case 3: {
        Arguments args(vm, 1);
        return args.replaceWith(openWriter(vm.heap(), args.object(0)).position());
    }
    case 4: {
        Arguments args(vm, 1);
        return args.replaceWith(openWriter(vm.heap(), args.object(0)).streamSize());
    }
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
