#pragma once

#include "Types.h"

class VirtualMachine;

// Opcode 0x4E: runs function `function` of native group `group` on the machine's operand
// stack. A group outside 1 to 35 is the fatal error "Internal error: invalid group in native
// call: "; a function the group does not define raises the group's unknown-function error.
void callNative(VirtualMachine& vm, TInt32 group, TInt32 function);
