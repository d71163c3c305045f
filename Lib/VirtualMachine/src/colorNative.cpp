// The "Color:" group: colours as 0xAARRGGBB words, read and written in place.

#include "GraphicsNatives.h"

#include "VirtualMachine.h"

namespace {

const char* const kPrefix = "Color:";

// Byte shifts of the components: red, green, blue, alpha.
constexpr int kShift[4] = {16, 8, 0, 24};

constexpr TUint32 kConstants[] = {
    0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000, 0xFFFFFFFF, 0xFF00FFFF,
    0xFFFF00FF, 0xFFFFFF00, 0xFF808080, 0xFF964B00, 0xFFFF7F00,
};

TUint32 checkedComponent(TUint32 value) {
    if (value > 255) raise(KErrInvalidArgument);
    return value;
}

void setComponents(VirtualMachine& vm) {
    NativeArguments args(vm, 5);
    TUint32 colour = 0;
    for (int c = 0; c < 4; ++c) colour |= checkedComponent(args.word(1 + c)) << kShift[c];
    vm.arena().setWord(args.address(0), colour);
    args.drop();
}

void component(VirtualMachine& vm, int c) {
    NativeArguments args(vm, 1);
    args.result(TInt32((vm.arena().word(args.address(0)) >> kShift[c]) & 0xFF));
}

void setComponent(VirtualMachine& vm, int c) {
    NativeArguments args(vm, 2);
    const TUint32 value = checkedComponent(args.word(1));
    const Address at = args.address(0);
    const TUint32 old = vm.arena().word(at);
    vm.arena().setWord(at, (old & ~(0xFFu << kShift[c])) | value << kShift[c]);
    args.drop();
}

} // namespace

void colorNative(VirtualMachine& vm, TInt32 function) {
    Arena& arena = vm.arena();
    switch (function) {
    case 1: {
        NativeArguments args(vm, 1);
        arena.setWord(args.address(0), 0xFFFFFFFF);
        return args.drop();
    }
    case 2: {
        NativeArguments args(vm, 2);
        arena.setWord(args.address(0), arena.word(args.address(1)));
        return args.drop();
    }
    case 3: return setComponents(vm);
    case 4:
    case 5:
    case 6:
    case 7: return component(vm, function - 4);
    case 8:
    case 9:
    case 10:
    case 11: return setComponent(vm, function - 8);
    case 12:
    case 13: {
        NativeArguments args(vm, 2);
        const bool equal = args.word(0) == args.word(1);
        return args.result(equal == (function == 12) ? 1 : 0);
    }
    default:
        if (function >= 14 && function <= 24) return vm.push(TInt32(kConstants[function - 14]));
        vm.raiseUnknownFunction(kPrefix);
    }
}
