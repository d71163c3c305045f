// The "Rectangle:" group: four-word rectangles (x, y, width, height) read and written in place.

#include "GraphicsNatives.h"

#include "VirtualMachine.h"

namespace {

const char* const kPrefix = "Rectangle:";

TInt32 wrappingSum(TInt32 a, TInt32 b) {
    return TInt32(TUint32(a) + TUint32(b));
}

// A width or height that is negative, or does not fit 32 bits, is refused.
TUint32 dimension(TInt64 value) {
    if (value < 0 || value > INT32_MAX) raise(KErrInvalidArgument);
    return TUint32(value);
}

} // namespace

void rectangleNative(VirtualMachine& vm, TInt32 function) {
    Arena& arena = vm.arena();
    auto field = [&arena](Address rect, int k) { return arena.int32(rect + 4 * k); };
    auto setField = [&arena](Address rect, int k, TInt32 v) { arena.setWord(rect + 4 * k, v); };
    switch (function) {
    case 1: {
        NativeArguments args(vm, 1);
        for (int k = 0; k < 4; ++k) setField(args.address(0), k, 0);
        return args.drop();
    }
    case 2: {
        NativeArguments args(vm, 2);
        TInt32 words[4];
        for (int k = 0; k < 4; ++k) words[k] = field(args.address(1), k);
        for (int k = 0; k < 4; ++k) setField(args.address(0), k, words[k]);
        return args.drop();
    }
    case 3: {
        NativeArguments args(vm, 5);
        for (int k = 0; k < 4; ++k) setField(args.address(0), k, args[1 + k]);
        return args.drop();
    }
    case 4:
    case 5: {
        NativeArguments args(vm, 1);
        const Address rect = args.address(0);
        const int k = function == 4 ? 0 : 2;
        return args.result(field(rect, k), field(rect, k + 1));
    }
    case 6:
    case 7:
    case 8:
    case 9: {
        NativeArguments args(vm, 1);
        return args.result(field(args.address(0), function - 6));
    }
    case 10:
    case 11: {
        NativeArguments args(vm, 1);
        const Address rect = args.address(0);
        const int k = function - 10;
        return args.result(wrappingSum(field(rect, k), field(rect, k + 2)));
    }
    case 12:
    case 13: {
        NativeArguments args(vm, 3);
        const int k = function == 12 ? 0 : 2;
        setField(args.address(0), k, args[1]);
        setField(args.address(0), k + 1, args[2]);
        return args.drop();
    }
    case 14:
    case 15: {
        NativeArguments args(vm, 2);
        setField(args.address(0), function - 14, args[1]);
        return args.drop();
    }
    case 16:
    case 17: {
        NativeArguments args(vm, 2);
        setField(args.address(0), function - 14, TInt32(dimension(args[1])));
        return args.drop();
    }
    case 18:
    case 19: {
        NativeArguments args(vm, 2);
        const Address rect = args.address(0);
        const int k = function - 18;
        setField(rect, k + 2, TInt32(dimension(TInt64(args[1]) - field(rect, k))));
        return args.drop();
    }
    case 20:
    case 21: {
        NativeArguments args(vm, 8);
        bool equal = true;
        for (int k = 0; k < 4; ++k) equal = equal && args[k] == args[4 + k];
        return args.result(equal == (function == 20) ? 1 : 0);
    }
    default: vm.raiseUnknownFunction(kPrefix);
    }
}
