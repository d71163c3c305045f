// FileSystem: files and directories below the application directory. Every function has one
// word below its arguments that it does not read: a result replaces it, otherwise it goes.

#include "FileNatives.h"
#include "VectorObject.h"

#include <vector>

using namespace fileNatives;

namespace {

constexpr const char* kPrefix = "FileSystem:";

class FileSystemCall {
public:
    FileSystemCall(VirtualMachine& vm, TInt32 argumentCount)
        : vm(vm), args(vm, argumentCount + 1), host(hostServices(vm)) {}

    CAppsString path(TInt32 k, const char* emptyMessage = nullptr) const {
        CAppsString text = args.path(k + 1);
        if (emptyMessage && text.isEmpty()) raise(KErrInvalidArgument, emptyMessage);
        return text;
    }
    void finish(TInt32 result) { args.replaceWith(result); }
    void finishChecked(bool succeeded) {
        if (!succeeded) raiseFailed();
        args.drop();
    }
    void finishWithNames(const Vec<CAppsString>& names) {
        std::vector<TUint32> values;
        values.reserve(names.size());
        for (const CAppsString& name : names)
            values.push_back(vm.newStringValue(OString(vm.arena(), name)));
        args.replaceWith(TInt32(newVectorValue(vm.heap(), 4, true,
                                               reinterpret_cast<const TUint8*>(values.data()),
                                               TInt32(values.size()))));
    }

    VirtualMachine& vm;
    Arguments args;
    FrameworkServices& host;
};

void exists(VirtualMachine& vm, bool directory) {
    FileSystemCall call(vm, 1);
    const CAppsString path = call.path(0);
    const bool found = !path.isEmpty() &&
                       (directory ? call.host.directoryExists(path) : call.host.fileExists(path));
    call.finish(found ? kTrue : kFalse);
}

void list(VirtualMachine& vm, bool directories) {
    FileSystemCall call(vm, 1);
    Vec<CAppsString> fileNames, directoryNames;
    if (!call.host.listDirectory(call.path(0), fileNames, directoryNames)) raiseFailed();
    call.finishWithNames(directories ? directoryNames : fileNames);
}

// 7: an empty file, or an existing one emptied.
void createFile(VirtualMachine& vm) {
    FileSystemCall call(vm, 1);
    std::unique_ptr<ZARNOK::FileOutputStream> stream(
        call.host.openFileForWriting(call.path(0, "Path is empty"), true));
    call.finishChecked(stream != nullptr);
}

void rename(VirtualMachine& vm, bool directory) {
    FileSystemCall call(vm, 2);
    const CAppsString source =
        call.path(0, directory ? "Source path is empty" : "Source filename is empty");
    const CAppsString target =
        call.path(1, directory ? "Target path is empty" : "Target filename is empty");
    call.finishChecked(directory ? call.host.renameDirectory(source, target)
                                 : call.host.renameFile(source, target));
}

} // namespace

void fileSystemNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return exists(vm, false);
    case 2: return exists(vm, true);
    case 3: {
        FileSystemCall call(vm, 1);
        return call.finishChecked(call.host.deleteFile(call.path(0, "Path is empty")));
    }
    case 4: {
        FileSystemCall call(vm, 1);
        return call.finishChecked(call.host.removeDirectory(call.path(0, "Path is empty")));
    }
    case 5: return list(vm, true);
    case 6: return list(vm, false);
    case 7: return createFile(vm);
    case 8: {
        FileSystemCall call(vm, 1);
        return call.finishChecked(call.host.createDirectory(call.path(0, "Path is empty")));
    }
    case 9: return rename(vm, false);
    case 10: return rename(vm, true);
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
