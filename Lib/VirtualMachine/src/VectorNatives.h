#pragma once

#include "Types.h"

class VirtualMachine;

// Native groups of the value libraries built on vectors. Each runs one function number on the
// machine's operand stack; unknown numbers raise the group's unknown-function error.

// One vector operation set for elements of elementBytes (1, 4, 8, 12 or 16) bytes; primitive
// is false for vectors of references.
void vectorNative(VirtualMachine& vm, TInt32 function, TInt32 elementBytes, TBool primitive);
// The instances reached through the dispatch table: group 1 (bytes), 3 and 7 (one word;
// 7 with primitive false), 4, 5 and 6 (two to four words).
void byteVectorNative(VirtualMachine& vm, TInt32 function, bool primitive);
void oneWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive);
void twoWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive);
void threeWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive);
void fourWordVectorNative(VirtualMachine& vm, TInt32 function, bool primitive);
void rangeNative(VirtualMachine& vm, TInt32 function);   // group 14
void encoderNative(VirtualMachine& vm, TInt32 function); // group 28
void hashNative(VirtualMachine& vm, TInt32 function);    // group 34
