#pragma once

#include "ORaw.h"
#include "VirtualMachine.h"

// The numeric native groups: Fixed (11), Long (12), Math (26), Number (27), Char (10) and
// Byte (9). Arguments are on the operand stack, the last one on top; a result replaces the
// first argument.
void fixedNative(VirtualMachine& vm, TInt32 function);
void longNative(VirtualMachine& vm, TInt32 function);
void mathNative(VirtualMachine& vm, TInt32 function);
void numberNative(VirtualMachine& vm, TInt32 function);
void charNative(VirtualMachine& vm, TInt32 function);
void byteNative(VirtualMachine& vm, TInt32 function);

// A Fixed value takes two slots, the low word in the lower one; in memory it is two words,
// the low word first.
inline TInt64 joinWords(TUint32 low, TUint32 high) {
    return TInt64(TUint64(high) << 32 | low);
}

inline TInt64 fixedAt(const VirtualMachine& vm, TInt32 index) {
    return joinWords(TUint32(vm.slot(index)), TUint32(vm.slot(index + 1)));
}
inline void setFixedAt(VirtualMachine& vm, TInt32 index, TInt64 value) {
    vm.setSlot(index, TInt32(value));
    vm.setSlot(index + 1, TInt32(value >> 32));
}
inline TInt64 popFixed(VirtualMachine& vm) {
    vm.sp -= 2;
    return fixedAt(vm, vm.sp + 1);
}
inline void pushFixed(VirtualMachine& vm, TInt64 value) {
    vm.push(TInt32(value));
    vm.push(TInt32(value >> 32));
}
inline TInt64 loadInt64(const Arena& arena, Address address) {
    return joinWords(arena.word(address), arena.word(address + 4));
}
inline void storeInt64(Arena& arena, Address address, TInt64 value) {
    arena.setWord(address, TUint32(value));
    arena.setWord(address + 4, TUint32(TUint64(value) >> 32));
}
