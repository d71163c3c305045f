// KeyEvent: the fields of a key event, for the application's key handlers.

#include "KeyEvent.h"
#include "NativeGroups.h"
#include "VirtualMachine.h"

#include <memory>

namespace {

constexpr const char* kUnknownFunction = "KeyEvent: invalid opcode ";

Zarnok::KeyEvent& keyEventOnTop(VirtualMachine& vm) {
    const Address reference = static_cast<Address>(vm.top());
    if (reference == 0) raise(KErrNullPointer, "KeyEvent: NULL pointer");
    auto* event = dynamic_cast<Zarnok::KeyEvent*>(vm.heap().nativeObject(reference));
    if (event == nullptr) raise(KErrVM, "KeyEvent: not a key event");
    return *event;
}

} // namespace

Address Zarnok::newKeyEvent(VMHeap& heap, TInt32 key, TInt32 scanCode, TInt32 modifiers,
                            const CAppsString& text) {
    auto event = std::make_unique<KeyEvent>(key, scanCode, modifiers, OString(heap.arena(), text));
    return heap.allocateNative(std::move(event), 4, GC_CODE_PLAIN);
}

void keyEventNative(VirtualMachine& vm, TInt32 function) {
    if (function < 1 || function > 4) vm.raiseUnknownFunction(kUnknownFunction);
    const Zarnok::KeyEvent& event = keyEventOnTop(vm);
    TInt32 result = 0;
    switch (function) {
    case 1: result = event.key; break;
    case 2: result = event.modifiers; break;
    case 3: result = event.scanCode; break;
    case 4: result = static_cast<TInt32>(vm.newStringValue(event.text)); break;
    }
    vm.setSlot(vm.sp, result);
}
