// The Char: group: case mapping and classification of 16-bit units with QChar semantics.

#include "NumericNatives.h"

#include <QChar>

namespace {

QChar unitAt(const VirtualMachine& vm, TInt32 index) {
    return QChar(TUint16(vm.slot(index)));
}

void setUnit(VirtualMachine& vm, TInt32 index, QChar unit) {
    vm.setSlot(index, TInt32(unit.unicode()));
}

void setBool(VirtualMachine& vm, bool value) {
    vm.setSlot(vm.sp, value ? 1 : 0);
}

// (x, c): the mapped c replaces the dropped x.
void mapSecond(VirtualMachine& vm, QChar (*map)(QChar)) {
    const QChar unit(TUint16(vm.pop()));
    setUnit(vm, vm.sp, map(unit));
}

QChar lower(QChar c) {
    return c.toLower();
}
QChar upper(QChar c) {
    return c.toUpper();
}

void oneUnitString(VirtualMachine& vm) {
    const TUint16 unit = TUint16(vm.top());
    vm.setSlot(vm.sp, TInt32(vm.newStringValue(OString(vm.arena(), &unit, 1))));
}

} // namespace

void charNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: mapSecond(vm, lower); break;
    case 2: mapSecond(vm, upper); break;
    case 3: setUnit(vm, vm.sp, lower(unitAt(vm, vm.sp))); break;
    case 4: setUnit(vm, vm.sp, upper(unitAt(vm, vm.sp))); break;
    case 5: setBool(vm, unitAt(vm, vm.sp).isLetter()); break;
    case 6: setBool(vm, unitAt(vm, vm.sp).isDigit()); break;
    case 7: setBool(vm, unitAt(vm, vm.sp).isSpace()); break;
    case 8: oneUnitString(vm); break;
    case 9: vm.setSlot(vm.sp, vm.top() & 0xFFFF); break;
    default: vm.raiseUnknownFunction("Char:");
    }
}
