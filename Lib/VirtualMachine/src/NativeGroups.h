#pragma once

#include "Types.h"

class FrameworkServices;
class VirtualMachine;

// The host services of a loaded machine; natives reach the host only through them.
FrameworkServices& hostServices(VirtualMachine& vm);

// One function per native library. Each selects its operation by the function number, works
// on the operand stack and raises the group's unknown-function error for numbers it does not
// define. Natives.cpp maps group numbers to them.
void debugNative(VirtualMachine& vm, TInt32 function);
void systemNative(VirtualMachine& vm, TInt32 function);
void timerNative(VirtualMachine& vm, TInt32 function);
void keyEventNative(VirtualMachine& vm, TInt32 function);
void outputStreamNative(VirtualMachine& vm, TInt32 function); // 21
void fileWriterNative(VirtualMachine& vm, TInt32 function);   // 22
void inputStreamNative(VirtualMachine& vm, TInt32 function);  // 23
void fileReaderNative(VirtualMachine& vm, TInt32 function);   // 24
void fileSystemNative(VirtualMachine& vm, TInt32 function);   // 25
void dateTimeNative(VirtualMachine& vm, TInt32 function);     // 29
// A box (code 14) holding a new date-time set to now in local time (0) or UTC (1); any other
// time spec raises code 6.
Address newDateTimeValue(VirtualMachine& vm, TInt32 timezone);
