// The "Encoder:" group: UTF-8 encoding of string values into byte vectors and back. The first
// argument word is a placeholder that the result replaces.

#include "VectorNatives.h"

#include "VectorObject.h"
#include "VirtualMachine.h"

namespace {

const char* const kPrefix = "Encoder:";

// 1: any, string -> byte vector
void encode(VirtualMachine& vm) {
    const Vec<TUint8> bytes = vm.stringValue(Address(vm.top())).toUtf8();
    const Address result = newByteVectorValue(vm.heap(), bytes.data(), bytes.size());
    vm.sp -= 1;
    vm.setSlot(vm.sp, TInt32(result));
}

// 2: any, byte vector -> string
void decode(VirtualMachine& vm) {
    const OVector bytes = OVector::ofValue(vm.heap(), Address(vm.top()), 1);
    const TInt32 count = bytes.count();
    OString text = count > 0 ? OString::fromUtf8(vm.arena(), bytes.elementBytesAt(0, count), count)
                             : OString(vm.arena());
    const Address result = vm.newStringValue(std::move(text));
    vm.sp -= 1;
    vm.setSlot(vm.sp, TInt32(result));
}

} // namespace

void encoderNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: return encode(vm);
    case 2: return decode(vm);
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
