#include "VirtualMachine.h"

#include "AppsFileIO.h"
#include "Graphics.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

std::u16string key(const CAppsString& name) {
    return std::u16string(reinterpret_cast<const char16_t*>(name.data()), name.size());
}

} // namespace

VirtualMachine::VirtualMachine()
    : vmHeap(memory, kMinPoolSize,
             TypeTables{&typeRefOffsets, &typeFlaggedOffsets, &typeOffsetFlags}, this),
      operandStack(memory.reserve(kStackSlots * 4)) {
    for (TInt32& handle : entryHandles) handle = -1;
}

void VirtualMachine::setGraphics(std::unique_ptr<GraphicsFactory> factory) {
    graphicsFactory = std::move(factory);
}

VirtualMachine::~VirtualMachine() {
    // Frees every object, so native objects release their host resources. Over a heap that
    // bytecode has corrupted the sweep stops early; the native-object table still releases
    // what it holds.
    try {
        vmHeap.sweep();
    } catch (const ErrorHandlingException&) {
        clearLastError();
    }
    // The constants' buffers live in the arena, which is destroyed before these members.
    stringConstants.clear();
}

TInt32 VirtualMachine::load(ZARNOK::InputStream& stream, const CAppsString& imageName,
                            FrameworkServices* services) {
    frameworkServices = services;
    TInt32 imageIndex = -1;
    std::string refusal;
    try {
        imageIndex = loadImage(stream, imageName, &refusal);
    } catch (const ErrorHandlingException&) {
        refusal = lastErrorText().toUtf8();
    } catch (const std::exception& error) {
        refusal = error.what();
    }
    if (imageIndex < 0)
        fatalError(
            CAppsString("Error while reading bytecode: ").append(CAppsString::fromUtf8(refusal)),
            -1);
    clearLastError();
    startApplication(imageIndex);
    return imageIndex;
}

// The message is kept for the developer's explanation only: the error text stays the bare
// code 11.
void VirtualMachine::fatalError(const CAppsString& message, TInt32) {
    recordFailure(message.toUtf8());
    raise(KErrFatal);
}

void VirtualMachine::setInstructionBudget(TUint64 units) {
    budgeted = units != 0;
    budgetLeft = static_cast<TInt64>(std::min<TUint64>(units, INT64_MAX));
}

void VirtualMachine::requireBudgetFor(TUint64 bytes) {
    // At the rate the interpreter charges for what a native allocates.
    if (budgeted && bytes / 256 > static_cast<TUint64>(std::max<TInt64>(budgetLeft, 0)))
        budgetExhausted();
}

void VirtualMachine::budgetExhausted() {
    budgetLeft = -1;
    raise(KErrFatal, "instruction budget exhausted");
}

void VirtualMachine::setApplicationObject(Address object) {
    if (application) vmHeap.unpin(application);
    application = object;
    if (application) vmHeap.pin(application);
}

void VirtualMachine::push(TInt32 value) {
    if (sp + 1 >= kStackSlots || sp + 1 < 0) fatalError("Stack overflow", pc);
    setSlot(++sp, value);
}

Address VirtualMachine::newStringValue(OString text) {
    Address object = 0;
    Address box = 0;
    vmHeap.allocatePair(8, -1, GC_CODE_STRING, object, 4, 0, GC_CODE_REFERENCE_BOX, box);
    memory.setWord(object + 4, text.detach());
    memory.setWord(box, object);
    return box;
}

OString VirtualMachine::stringValue(Address value) {
    const Address object = value ? memory.word(value) : 0;
    if (object == 0) raiseNullPointer();
    OString text = OString::share(memory, memory.word(object + 4));
    if (budgeted) chargeWork(2 * TUint64(text.length())); // the length costs a lookup
    return text;
}

void VirtualMachine::raiseUnknownFunction(const char* prefix) const {
    raise(KErrVM, std::string(prefix) + std::to_string(pc));
}

TInt32 VirtualMachine::findExportedMethod(const CAppsString& name) const {
    auto it = firstMethodByName.find(key(name));
    return it == firstMethodByName.end() ? -1 : it->second;
}

void VirtualMachine::indexExportedName(TInt32 index) {
    firstMethodByName.emplace(key(exportedMethods[index].name), index);
}
