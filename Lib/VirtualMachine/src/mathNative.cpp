// The Math: group: functions of Fixed values, minimum and maximum, constants and random
// numbers.

#include "NumericNatives.h"

#include <ctime>

namespace {

using Unary = TInt64 (*)(TInt64);
using Binary = TInt64 (*)(TInt64, TInt64);

template <Unary op> void unary(VirtualMachine& vm) {
    setFixedAt(vm, vm.sp - 1, op(fixedAt(vm, vm.sp - 1)));
}

template <Binary op> void binary(VirtualMachine& vm) {
    const TInt64 b = popFixed(vm);
    setFixedAt(vm, vm.sp - 1, op(fixedAt(vm, vm.sp - 1), b));
}

// The winning slot is kept as it is, so callers get back exactly what they passed.
template <class Less> void pickSlot(VirtualMachine& vm, bool minimum, Less less) {
    const TInt32 b = vm.pop();
    const TInt32 a = vm.top();
    if (minimum ? less(b, a) : less(a, b)) vm.setSlot(vm.sp, b);
}

void pickFixed(VirtualMachine& vm, bool minimum) {
    const TInt64 b = popFixed(vm);
    const TInt64 a = fixedAt(vm, vm.sp - 1);
    if (minimum ? b < a : a < b) setFixedAt(vm, vm.sp - 1, b);
}

MersenneTwister& generator(VirtualMachine& vm) {
    MersenneTwister& random = vm.randomGenerator;
    if (!random.isSeeded()) {
        // A zero seed would leave the whole state zero and every draw 0.
        const TUint32 seed = TUint32(clock());
        random.seed(seed != 0 ? seed : 4357);
    }
    return random;
}

void randomInteger(VirtualMachine& vm) {
    const TInt64 b = vm.pop();
    const TInt64 a = vm.top();
    const TInt64 low = a < b ? a : b;
    const TInt64 span = (a < b ? b : a) - low + 1;
    vm.setSlot(vm.sp, TInt32(low + TInt64(generator(vm).next32()) % span));
}

// A point between low and high at the fraction next32 / 2^32 of the way.
TInt64 between(MersenneTwister& random, TInt64 low, TInt64 high) {
    return ORaw::add(low, ORaw::multiply(TInt64(random.next32()), ORaw::subtract(high, low)));
}

TInt64 randomFixed(MersenneTwister& random, TInt64 a, TInt64 b) {
    const TInt64 low = a < b ? a : b;
    const TInt64 high = a < b ? b : a;
    TInt64 span;
    if (!__builtin_sub_overflow(high, low, &span)) return between(random, low, high);
    const TInt64 negative = between(random, low, 0);
    const TInt64 positive = between(random, 0, high);
    return (random.next32() & 1) ? negative : positive;
}

} // namespace

void mathNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: unary<ORaw::sin>(vm); break;
    case 2: unary<ORaw::cos>(vm); break;
    case 3: unary<ORaw::tan>(vm); break;
    case 4: unary<ORaw::asin>(vm); break;
    case 5: unary<ORaw::acos>(vm); break;
    case 6: unary<ORaw::atan>(vm); break;
    case 7: unary<ORaw::radiansToDegrees>(vm); break;
    case 8: unary<ORaw::degreesToRadians>(vm); break;
    case 9: unary<ORaw::sqrt>(vm); break;
    case 10: binary<ORaw::log>(vm); break;
    case 11: unary<ORaw::log>(vm); break;
    case 12: randomInteger(vm); break;
    case 13: {
        const TInt64 b = popFixed(vm);
        setFixedAt(vm, vm.sp - 1, randomFixed(generator(vm), fixedAt(vm, vm.sp - 1), b));
        break;
    }
    case 14:
    case 17:
        pickSlot(vm, function == 14, [](TInt32 a, TInt32 b) { return TInt8(a) < TInt8(b); });
        break;
    case 15:
    case 18: pickSlot(vm, function == 15, [](TInt32 a, TInt32 b) { return a < b; }); break;
    case 16:
    case 19: pickFixed(vm, function == 16); break;
    case 20: pushFixed(vm, ORaw::kE); break;
    case 21: pushFixed(vm, ORaw::kPi); break;
    case 22: pushFixed(vm, ORaw::kEpsilon); break;
    default: vm.raiseUnknownFunction("Math:");
    }
}
