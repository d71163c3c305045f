// The Number: group: absolute values and unsigned radix text.

#include "NumericNatives.h"

#include <string>

namespace {

void byteAbsolute(VirtualMachine& vm) {
    const TInt8 value = TInt8(vm.top());
    if (value < 0) vm.setSlot(vm.sp, -TInt32(value));
}

void integerAbsolute(VirtualMachine& vm) {
    const TInt32 value = vm.top();
    vm.setSlot(vm.sp, value == INT32_MIN ? INT32_MAX : (value < 0 ? -value : value));
}

// Digits 0-9 then a-z; a radix outside 2 to 36 gives the empty text.
std::string unsignedText(TUint32 value, TInt32 radix) {
    if (radix < 2 || radix > 36) return {};
    std::string reversed;
    do {
        reversed += "0123456789abcdefghijklmnopqrstuvwxyz"[value % TUint32(radix)];
        value /= TUint32(radix);
    } while (value != 0);
    return {reversed.rbegin(), reversed.rend()};
}

void radixText(VirtualMachine& vm) {
    const TInt32 radix = vm.pop();
    const std::string text = unsignedText(TUint32(vm.top()), radix);
    vm.setSlot(vm.sp, TInt32(vm.newStringValue(OString(vm.arena(), text))));
}

} // namespace

void numberNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: byteAbsolute(vm); break;
    case 2: integerAbsolute(vm); break;
    case 3: radixText(vm); break;
    default: vm.raiseUnknownFunction("Number:");
    }
}
