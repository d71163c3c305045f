// Debug: the application's log.

#include "FrameworkServices.h"
#include "NativeGroups.h"
#include "VirtualMachine.h"

namespace {

void log(VirtualMachine& vm) {
    const OString message = vm.stringValue(static_cast<Address>(vm.pop()));
    hostServices(vm).log(message.toCAppsString());
}

// A null name closes the log file, like an empty one.
void setLogFile(VirtualMachine& vm) {
    const Address name = static_cast<Address>(vm.pop());
    hostServices(vm).setLogFile(name ? vm.stringValue(name).toCAppsString() : CAppsString());
}

} // namespace

void debugNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: log(vm); break;
    case 2: setLogFile(vm); break;
    case 3: break;
    default: vm.raiseUnknownFunction("Debug:");
    }
}
