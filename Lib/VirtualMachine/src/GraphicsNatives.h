#pragma once

#include "Types.h"

class VirtualMachine;

// The graphics native groups. Arguments are on the operand stack, the last one on top; each
// group removes its arguments and pushes its results, and raises the group's unknown-function
// error for numbers it does not define.
void colorNative(VirtualMachine& vm, TInt32 function);     // 13
void sizeNative(VirtualMachine& vm, TInt32 function);      // 15
void positionNative(VirtualMachine& vm, TInt32 function);  // 16
void rectangleNative(VirtualMachine& vm, TInt32 function); // 17
void graphicsNative(VirtualMachine& vm, TInt32 function);  // 18
void bitmapNative(VirtualMachine& vm, TInt32 function);    // 19
void fontNative(VirtualMachine& vm, TInt32 function);      // 20
void screenNative(VirtualMachine& vm, TInt32 function);    // 31

// System 10 to 12: a new font value (a box holding the font object).
Address newNativeFontValue(VirtualMachine& vm);
Address loadFontValueFromFile(VirtualMachine& vm, Address path);
Address loadFontValueFromBytes(VirtualMachine& vm, Address byteVectorValue);

// The arguments of a native taking count slots: argument k (0 = the deepest).
class NativeArguments {
public:
    NativeArguments(VirtualMachine& vm, TInt32 count);
    TInt32 operator[](TInt32 k) const;
    Address address(TInt32 k) const { return static_cast<Address>((*this)[k]); }
    TUint32 word(TInt32 k) const { return static_cast<TUint32>((*this)[k]); }
    // Removes the arguments.
    void drop();
    // Removes the arguments and pushes the results.
    void result(TInt32 value);
    void result(TInt32 first, TInt32 second);

private:
    VirtualMachine& vm;
    TInt32 count;
    TInt32 base; // slot of argument 0
};
