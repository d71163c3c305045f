#pragma once

#include "Types.h"

class VirtualMachine;

// The String: native group (8): the operation numbered `function` on the machine's operand
// stack. Numbers the group does not define raise code 10, "String:" and the position.
void stringNative(VirtualMachine& vm, TInt32 function);
