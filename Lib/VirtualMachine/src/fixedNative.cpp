// The Fixed: group: fixed-point numbers on the operand stack and in memory.

#include "NumericNatives.h"

#include <algorithm>
#include <array>

namespace {

using Unary = TInt64 (*)(TInt64);
using Binary = TInt64 (*)(TInt64, TInt64);
using Rounding = TInt32 (*)(TInt64);

template <Unary op> void unary(VirtualMachine& vm) {
    setFixedAt(vm, vm.sp - 1, op(fixedAt(vm, vm.sp - 1)));
}

template <Binary op> void binary(VirtualMachine& vm) {
    const TInt64 b = popFixed(vm);
    setFixedAt(vm, vm.sp - 1, op(fixedAt(vm, vm.sp - 1), b));
}

void intoAddress(VirtualMachine& vm, Binary op) {
    const TInt64 b = popFixed(vm);
    const Address address = Address(vm.pop());
    storeInt64(vm.arena(), address, op(loadInt64(vm.arena(), address), b));
}

template <class Predicate> void compare(VirtualMachine& vm, Predicate holds) {
    const TInt64 b = popFixed(vm);
    const TInt64 a = popFixed(vm);
    vm.push(holds(a, b) ? 1 : 0);
}

void toInteger(VirtualMachine& vm, Rounding op) {
    vm.push(op(popFixed(vm)));
}

constexpr std::array<TUint16, 64> kZeros = [] {
    std::array<TUint16, 64> zeros{};
    zeros.fill('0');
    return zeros;
}();

// Digits past the exact expansion are zeros; they go straight into the string so that a
// huge decimal count costs no host copy.
OString fixedText(Arena& arena, TInt64 value, TInt32 decimals) {
    OString text(arena, ORaw::text(value, std::min(decimals, ORaw::kExactDigits)));
    if (decimals <= ORaw::kExactDigits) return text;
    const TInt64 length = TInt64(text.length()) + decimals - ORaw::kExactDigits;
    if (length > INT32_MAX) raise(KErrInvalidArgument, "Out of memory");
    text.reserve(int(length));
    for (int left = int(length) - text.length(); left > 0; left -= int(kZeros.size()))
        text.append(kZeros.data(), std::min(left, int(kZeros.size())));
    return text;
}

void pushText(VirtualMachine& vm, TInt32 decimals) {
    const Address address = Address(vm.pop());
    const TInt64 value = loadInt64(vm.arena(), address);
    vm.push(TInt32(vm.newStringValue(fixedText(vm.arena(), value, decimals))));
}

void parseText(VirtualMachine& vm) {
    const OString text = vm.stringValue(Address(vm.pop()));
    pushFixed(vm, ORaw::parse(text.units(), text.length()));
}

TInt64 increment(TInt64 a, TInt64) {
    return ORaw::add(a, ORaw::kOne);
}
TInt64 decrement(TInt64 a, TInt64) {
    return ORaw::subtract(a, ORaw::kOne);
}

void stepAtAddress(VirtualMachine& vm, Binary step) {
    const Address address = Address(vm.pop());
    storeInt64(vm.arena(), address, step(loadInt64(vm.arena(), address), 0));
}

} // namespace

void fixedNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: pushFixed(vm, loadInt64(vm.arena(), Address(vm.pop()))); break;
    case 2:
    case 3: pushFixed(vm, ORaw::fromInt(vm.pop())); break;
    case 4: parseText(vm); break;
    case 5: unary<ORaw::abs>(vm); break;
    case 6: unary<ORaw::negate>(vm); break;
    case 7: binary<ORaw::add>(vm); break;
    case 8: binary<ORaw::subtract>(vm); break;
    case 9: binary<ORaw::multiply>(vm); break;
    case 10: binary<ORaw::divide>(vm); break;
    case 11: binary<ORaw::pow>(vm); break;
    case 12: intoAddress(vm, ORaw::add); break;
    case 13: intoAddress(vm, ORaw::subtract); break;
    case 14: intoAddress(vm, ORaw::multiply); break;
    case 15: intoAddress(vm, ORaw::divide); break;
    case 16: stepAtAddress(vm, increment); break;
    case 17: stepAtAddress(vm, decrement); break;
    case 18: compare(vm, [](TInt64 a, TInt64 b) { return a == b; }); break;
    case 19: compare(vm, [](TInt64 a, TInt64 b) { return a != b; }); break;
    case 20: compare(vm, [](TInt64 a, TInt64 b) { return a < b; }); break;
    case 21: compare(vm, [](TInt64 a, TInt64 b) { return a <= b; }); break;
    case 22: compare(vm, [](TInt64 a, TInt64 b) { return a > b; }); break;
    case 23: compare(vm, [](TInt64 a, TInt64 b) { return a >= b; }); break;
    case 24: {
        const TInt32 decimals = vm.pop();
        pushText(vm, decimals);
        break;
    }
    case 25: pushText(vm, -1); break;
    case 26: toInteger(vm, ORaw::round); break;
    case 27: toInteger(vm, ORaw::ceil); break;
    case 28: toInteger(vm, ORaw::floor); break;
    case 29: pushFixed(vm, ORaw::kMin); break;
    case 30: pushFixed(vm, ORaw::kMax); break;
    default: vm.raiseUnknownFunction("Fixed:");
    }
}
