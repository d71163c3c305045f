// The Char: group: case mapping and classification of 16-bit units with QChar semantics.

#include "NumericNatives.h"
#include "UnicodeUnits.h"

namespace {

TUint16 unitAt(const VirtualMachine& vm, TInt32 index) {
    return TUint16(vm.slot(index));
}

void setUnit(VirtualMachine& vm, TInt32 index, TUint16 unit) {
    vm.setSlot(index, TInt32(unit));
}

void setBool(VirtualMachine& vm, bool value) {
    vm.setSlot(vm.sp, value ? 1 : 0);
}

// (x, c): the mapped c replaces the dropped x.
void mapSecond(VirtualMachine& vm, TUint16 (*map)(TUint16)) {
    const TUint16 unit = TUint16(vm.pop());
    setUnit(vm, vm.sp, map(unit));
}

void oneUnitString(VirtualMachine& vm) {
    const TUint16 unit = TUint16(vm.top());
    vm.setSlot(vm.sp, TInt32(vm.newStringValue(OString(vm.arena(), &unit, 1))));
}

} // namespace

void charNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: mapSecond(vm, UnicodeUnits::toLower); break;
    case 2: mapSecond(vm, UnicodeUnits::toUpper); break;
    case 3: setUnit(vm, vm.sp, UnicodeUnits::toLower(unitAt(vm, vm.sp))); break;
    case 4: setUnit(vm, vm.sp, UnicodeUnits::toUpper(unitAt(vm, vm.sp))); break;
    case 5: setBool(vm, UnicodeUnits::isLetter(unitAt(vm, vm.sp))); break;
    case 6: setBool(vm, UnicodeUnits::isDigit(unitAt(vm, vm.sp))); break;
    case 7: setBool(vm, UnicodeUnits::isSpace(unitAt(vm, vm.sp))); break;
    case 8: oneUnitString(vm); break;
    case 9: vm.setSlot(vm.sp, vm.top() & 0xFFFF); break;
    default: vm.raiseUnknownFunction("Char:");
    }
}
