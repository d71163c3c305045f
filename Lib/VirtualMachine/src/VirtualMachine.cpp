#include "VirtualMachine.h"

#include "AppsFileIO.h"

namespace {

std::u16string key(const CAppsString& name) {
    return std::u16string(reinterpret_cast<const char16_t*>(name.data()), name.size());
}

} // namespace

VirtualMachine::VirtualMachine()
    : vmHeap(memory, kMinPoolSize,
             TypeTables{&typeRefOffsets, &typeFlaggedOffsets, &typeOffsetFlags}, this),
      operandStack(memory.reserve(kStackSlots * 4)) {}

VirtualMachine::~VirtualMachine() {
    // Frees every object, so native objects release their host resources.
    vmHeap.sweep();
}

TInt32 VirtualMachine::load(ZARNOK::InputStream& stream, const CAppsString& imageName,
                            FrameworkServices* services) {
    frameworkServices = services;
    TInt32 imageIndex = -1;
    try {
        imageIndex = loadImage(stream, imageName);
    } catch (...) {
        imageIndex = -1;
    }
    if (imageIndex < 0) fatalError("Error while reading bytecode", -1);
    clearLastError();
    return imageIndex;
}

void VirtualMachine::fatalError(const CAppsString&, TInt32) {
    raise(KErrFatal);
}

void VirtualMachine::collectGarbage() {
    vmHeap.collect();
}

TInt32 VirtualMachine::findExportedMethod(const CAppsString& name) const {
    auto it = firstMethodByName.find(key(name));
    return it == firstMethodByName.end() ? -1 : it->second;
}

void VirtualMachine::indexExportedName(TInt32 index) {
    firstMethodByName.emplace(key(exportedMethods[index].name), index);
}
