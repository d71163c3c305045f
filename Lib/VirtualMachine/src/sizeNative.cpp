// The "Size:" and "Position:" groups: two-word values read and written in place. They share
// one operation set; sizes refuse negative dimensions.

#include "GraphicsNatives.h"

#include "VirtualMachine.h"

namespace {

void pairNative(VirtualMachine& vm, TInt32 function, bool nonNegative, const char* prefix) {
    Arena& arena = vm.arena();
    auto checked = [nonNegative](TInt32 value) {
        if (nonNegative && value < 0) raise(KErrInvalidArgument);
        return TUint32(value);
    };
    switch (function) {
    case 1: {
        NativeArguments args(vm, 1);
        arena.setWord(args.address(0), 0);
        arena.setWord(args.address(0) + 4, 0);
        return args.drop();
    }
    case 2: {
        NativeArguments args(vm, 2);
        const TUint32 first = arena.word(args.address(1));
        const TUint32 second = arena.word(args.address(1) + 4);
        arena.setWord(args.address(0), first);
        arena.setWord(args.address(0) + 4, second);
        return args.drop();
    }
    case 3: {
        NativeArguments args(vm, 3);
        const TUint32 first = checked(args[1]);
        const TUint32 second = checked(args[2]);
        arena.setWord(args.address(0), first);
        arena.setWord(args.address(0) + 4, second);
        return args.drop();
    }
    case 4:
    case 5: {
        NativeArguments args(vm, 1);
        return args.result(arena.int32(args.address(0) + 4 * (function - 4)));
    }
    case 6:
    case 7: {
        NativeArguments args(vm, 2);
        arena.setWord(args.address(0) + 4 * (function - 6), checked(args[1]));
        return args.drop();
    }
    case 8:
    case 9: {
        NativeArguments args(vm, 4);
        const bool equal = args[0] == args[2] && args[1] == args[3];
        return args.result(equal == (function == 8) ? 1 : 0);
    }
    default: vm.raiseUnknownFunction(prefix);
    }
}

} // namespace

void sizeNative(VirtualMachine& vm, TInt32 function) {
    pairNative(vm, function, true, "Size:");
}

void positionNative(VirtualMachine& vm, TInt32 function) {
    pairNative(vm, function, false, "Position:");
}
