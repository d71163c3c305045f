// The Byte: group defines no function; every number is unknown.

#include "NumericNatives.h"

void byteNative(VirtualMachine& vm, TInt32) {
    vm.raiseUnknownFunction("Byte:");
}
