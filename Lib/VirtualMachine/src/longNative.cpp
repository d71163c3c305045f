// The Long: group: 64-bit integers, each in its own 8-byte heap entry. Arithmetic wraps.

#include "NumericNatives.h"

#include <string>

namespace {

using Binary = TInt64 (*)(TInt64, TInt64);

Address longReference(const VirtualMachine& vm, TInt32 index) {
    const Address reference = Address(vm.slot(index));
    if (reference == 0) raiseNullPointer();
    return reference;
}

TInt64 longAt(VirtualMachine& vm, TInt32 index) {
    return loadInt64(vm.arena(), longReference(vm, index));
}

Address newLong(VirtualMachine& vm, TInt64 value) {
    const Address reference = vm.heap().allocate(8, 0, GC_CODE_PLAIN);
    storeInt64(vm.arena(), reference, value);
    return reference;
}

TInt64 wrap(TUint64 value) {
    return TInt64(value);
}
TInt64 add(TInt64 a, TInt64 b) {
    return wrap(TUint64(a) + TUint64(b));
}
TInt64 subtract(TInt64 a, TInt64 b) {
    return wrap(TUint64(a) - TUint64(b));
}
TInt64 multiply(TInt64 a, TInt64 b) {
    return wrap(TUint64(a) * TUint64(b));
}
TInt64 negate(TInt64 a) {
    return wrap(0 - TUint64(a));
}

// The one quotient that does not fit wraps to itself, as the multiplication would.
TInt64 divide(TInt64 a, TInt64 b) {
    if (b == 0) raise(KErrDivisionByZero);
    return b == -1 ? negate(a) : a / b;
}
TInt64 remainder(TInt64 a, TInt64 b) {
    if (b == 0) raise(KErrDivisionByZero);
    return b == -1 ? 0 : a % b;
}

TInt64 bitAnd(TInt64 a, TInt64 b) {
    return a & b;
}
TInt64 bitOr(TInt64 a, TInt64 b) {
    return a | b;
}
TInt64 bitXor(TInt64 a, TInt64 b) {
    return a ^ b;
}
// Only the low six bits of the count are used, so every count is defined.
TInt32 shiftCount(TInt64 b) {
    return TInt32(b) & 63;
}
TInt64 shiftLeft(TInt64 a, TInt64 b) {
    return wrap(TUint64(a) << shiftCount(b));
}
TInt64 shiftRight(TInt64 a, TInt64 b) {
    return a >> shiftCount(b);
}

// L, L -> L: a new Long in the first argument's slot.
void binary(VirtualMachine& vm, Binary op) {
    const TInt64 b = longAt(vm, vm.sp);
    const TInt64 a = longAt(vm, vm.sp - 1);
    const Address result = newLong(vm, op(a, b));
    vm.setSlot(--vm.sp, TInt32(result));
}

// L, L -> (none): the result replaces the first value.
void inPlace(VirtualMachine& vm, Binary op) {
    const TInt64 b = longAt(vm, vm.sp);
    const Address target = longReference(vm, vm.sp - 1);
    storeInt64(vm.arena(), target, op(loadInt64(vm.arena(), target), b));
    vm.sp -= 2;
}

void assign(VirtualMachine& vm, TInt64 (*op)(TInt64)) {
    const Address target = longReference(vm, vm.sp);
    storeInt64(vm.arena(), target, op(loadInt64(vm.arena(), target)));
    --vm.sp;
}

template <class Predicate> void compare(VirtualMachine& vm, Predicate holds) {
    const TInt64 b = longAt(vm, vm.sp);
    const TInt64 a = longAt(vm, vm.sp - 1);
    vm.setSlot(--vm.sp, holds(a, b) ? 1 : 0);
}

void negateInto(VirtualMachine& vm) {
    const Address result = newLong(vm, negate(longAt(vm, vm.sp)));
    vm.setSlot(vm.sp, TInt32(result));
}

void decimalText(VirtualMachine& vm) {
    const std::string text = std::to_string(longAt(vm, vm.sp));
    vm.setSlot(vm.sp, TInt32(vm.newStringValue(OString(vm.arena(), text))));
}

} // namespace

void longNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: assign(vm, [](TInt64) { return TInt64(0); }); break;
    case 2:
    case 3: inPlace(vm, [](TInt64, TInt64 b) { return b; }); break;
    case 5: binary(vm, add); break;
    case 6: binary(vm, subtract); break;
    case 7: binary(vm, multiply); break;
    case 8: binary(vm, divide); break;
    case 9: binary(vm, remainder); break;
    case 10: negateInto(vm); break;
    case 11: assign(vm, [](TInt64 a) { return add(a, 1); }); break;
    case 12: assign(vm, [](TInt64 a) { return subtract(a, 1); }); break;
    case 13: inPlace(vm, add); break;
    case 14: inPlace(vm, subtract); break;
    case 15: inPlace(vm, multiply); break;
    case 16: inPlace(vm, divide); break;
    case 17: inPlace(vm, remainder); break;
    case 18: compare(vm, [](TInt64 a, TInt64 b) { return a == b; }); break;
    case 19: compare(vm, [](TInt64 a, TInt64 b) { return a < b; }); break;
    case 20: compare(vm, [](TInt64 a, TInt64 b) { return a <= b; }); break;
    case 21: compare(vm, [](TInt64 a, TInt64 b) { return a != b; }); break;
    case 22: compare(vm, [](TInt64 a, TInt64 b) { return a > b; }); break;
    case 23: compare(vm, [](TInt64 a, TInt64 b) { return a >= b; }); break;
    case 24: binary(vm, bitAnd); break;
    case 25: binary(vm, bitOr); break;
    case 26: binary(vm, bitXor); break;
    case 27: binary(vm, shiftLeft); break;
    case 28: binary(vm, shiftRight); break;
    case 29: inPlace(vm, bitAnd); break;
    case 30: inPlace(vm, bitOr); break;
    case 31: inPlace(vm, bitXor); break;
    case 32: inPlace(vm, shiftLeft); break;
    case 33: inPlace(vm, shiftRight); break;
    case 34: decimalText(vm); break;
    case 35:
    case 36: break;
    case 37: vm.setSlot(vm.sp, TInt32(longAt(vm, vm.sp))); break;
    case 38: vm.setSlot(vm.sp, TInt32(newLong(vm, vm.slot(vm.sp)))); break;
    default: vm.raiseUnknownFunction("Long:");
    }
}
