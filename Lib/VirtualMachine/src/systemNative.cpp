// System: application control and the clocks.

#include "FrameworkServices.h"
#include "GraphicsNatives.h"
#include "NativeGroups.h"
#include "VirtualMachine.h"

namespace {

constexpr const char* kPrefix = "System:";

// A host that returns from its exit service still ends the entry call, through the exit code.
[[noreturn]] void exitApplication(VirtualMachine& vm) {
    hostServices(vm).exitApplication();
    raise(KErrExit);
}

[[noreturn]] void systemRequest(VirtualMachine& vm) {
    const OString request = vm.stringValue(static_cast<Address>(vm.pop()));
    hostServices(vm).systemRequest(request.toCAppsString());
    raise(KErrExit);
}

void pushLow32(VirtualMachine& vm, TUint64 value) {
    vm.push(static_cast<TInt32>(static_cast<TUint32>(value)));
}

void pushCallStack(VirtualMachine& vm) {
    const Address text =
        vm.newStringValue(OString(vm.arena(), std::string_view("No Callstack available")));
    vm.push(static_cast<TInt32>(text));
}

} // namespace

void systemNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: exitApplication(vm);
    case 2: systemRequest(vm);
    case 3: pushLow32(vm, hostServices(vm).elapsedMillis()); break;
    case 4: pushCallStack(vm); break;
    case 5: vm.setApplicationObject(static_cast<Address>(vm.pop())); break;
    case 6: vm.push(hostServices(vm).systemQueryB()); break;
    case 7: vm.push(hostServices(vm).systemQueryA()); break;
    case 8: pushLow32(vm, hostServices(vm).currentTimeMillis()); break;
    case 9: vm.setSlot(vm.sp, TInt32(newDateTimeValue(vm, vm.top()))); break;
    case 10: vm.push(TInt32(newNativeFontValue(vm))); break;
    case 11: vm.setSlot(vm.sp, TInt32(loadFontValueFromFile(vm, Address(vm.top())))); break;
    case 12: vm.setSlot(vm.sp, TInt32(loadFontValueFromBytes(vm, Address(vm.top())))); break;
    case 13: vm.sp -= 2; break;
    case 14:
    case 15: vm.setSlot(vm.sp, 0); break;
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
