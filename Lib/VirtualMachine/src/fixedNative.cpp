// The Fixed: group: fixed-point numbers on the operand stack and in memory.

#include "NumericNatives.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>

namespace {

using Unary = TInt64 (*)(TInt64);
using Binary = TInt64 (*)(TInt64, TInt64);
using Rounding = TInt32 (*)(TInt64);
using Operation = void (*)(VirtualMachine&);

template <Unary op> void unary(VirtualMachine& vm) {
    setFixedAt(vm, vm.sp - 1, op(fixedAt(vm, vm.sp - 1)));
}

template <Binary op> void binary(VirtualMachine& vm) {
    const TInt64 b = popFixed(vm);
    setFixedAt(vm, vm.sp - 1, op(fixedAt(vm, vm.sp - 1), b));
}

// address, F: the result replaces the Fixed stored at the address.
template <Binary op> void intoAddress(VirtualMachine& vm) {
    const TInt64 b = popFixed(vm);
    const Address address = Address(vm.pop());
    storeInt64(vm.arena(), address, op(loadInt64(vm.arena(), address), b));
}

template <TInt64 step> void stepAtAddress(VirtualMachine& vm) {
    const Address address = Address(vm.pop());
    storeInt64(vm.arena(), address, ORaw::add(loadInt64(vm.arena(), address), step));
}

template <class Predicate> void compare(VirtualMachine& vm) {
    const TInt64 b = popFixed(vm);
    const TInt64 a = popFixed(vm);
    vm.push(Predicate()(a, b) ? 1 : 0);
}

template <Rounding op> void toInteger(VirtualMachine& vm) {
    vm.push(op(popFixed(vm)));
}

template <TInt64 value> void pushConstant(VirtualMachine& vm) {
    pushFixed(vm, value);
}

void load(VirtualMachine& vm) {
    pushFixed(vm, loadInt64(vm.arena(), Address(vm.pop())));
}

void fromInteger(VirtualMachine& vm) {
    pushFixed(vm, ORaw::fromInt(vm.pop()));
}

void parseText(VirtualMachine& vm) {
    const OString text = vm.stringValue(Address(vm.pop()));
    pushFixed(vm, ORaw::parse(text.units(), text.length()));
}

constexpr std::array<TUint16, 64> kZeros = [] {
    std::array<TUint16, 64> zeros{};
    zeros.fill('0');
    return zeros;
}();

// Digits past the exact expansion are zeros; they go straight into the string so that a
// huge decimal count costs no host copy.
OString fixedText(VirtualMachine& vm, TInt64 value, TInt32 decimals) {
    OString text(vm.arena(), ORaw::text(value, std::min(decimals, ORaw::kExactDigits)));
    if (decimals <= ORaw::kExactDigits) return text;
    const TInt64 length = TInt64(text.length()) + decimals - ORaw::kExactDigits;
    if (length > INT32_MAX) raise(KErrInvalidArgument, "Out of memory");
    vm.requireBudgetFor(2 * TUint64(length));
    text.reserve(int(length));
    for (int left = int(length) - text.length(); left > 0; left -= int(kZeros.size()))
        text.append(kZeros.data(), std::min(left, int(kZeros.size())));
    return text;
}

// address, decimals: the text of the Fixed stored at the address.
void textWithDecimals(VirtualMachine& vm) {
    const TInt32 decimals = vm.pop();
    const TInt64 value = loadInt64(vm.arena(), Address(vm.pop()));
    vm.push(TInt32(vm.newStringValue(fixedText(vm, value, decimals))));
}

void exactText(VirtualMachine& vm) {
    vm.push(-1);
    textWithDecimals(vm);
}

// Indexed by the function number; each entry is a small function of its own, so the frequent
// arithmetic runs without the frame the text and parse operations need.
constexpr Operation kOperations[] = {
    nullptr,
    load,
    fromInteger,
    fromInteger,
    parseText,
    unary<ORaw::abs>,
    unary<ORaw::negate>,
    binary<ORaw::add>,
    binary<ORaw::subtract>,
    binary<ORaw::multiply>,
    binary<ORaw::divide>,
    binary<ORaw::pow>,
    intoAddress<ORaw::add>,
    intoAddress<ORaw::subtract>,
    intoAddress<ORaw::multiply>,
    intoAddress<ORaw::divide>,
    stepAtAddress<ORaw::kOne>,
    stepAtAddress<-ORaw::kOne>,
    compare<std::equal_to<TInt64>>,
    compare<std::not_equal_to<TInt64>>,
    compare<std::less<TInt64>>,
    compare<std::less_equal<TInt64>>,
    compare<std::greater<TInt64>>,
    compare<std::greater_equal<TInt64>>,
    textWithDecimals,
    exactText,
    toInteger<ORaw::round>,
    toInteger<ORaw::ceil>,
    toInteger<ORaw::floor>,
    pushConstant<ORaw::kMin>,
    pushConstant<ORaw::kMax>,
};
constexpr TInt32 kLastFunction = TInt32(std::size(kOperations)) - 1;

} // namespace

void fixedNative(VirtualMachine& vm, TInt32 function) {
    if (function < 1 || function > kLastFunction) vm.raiseUnknownFunction("Fixed:");
    kOperations[function](vm);
}
