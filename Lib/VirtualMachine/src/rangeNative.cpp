// The "Range:" group: ranges (first, count) kept in two words of a variable or field, and
// compared by value.

#include "VectorNatives.h"

#include "VirtualMachine.h"

namespace {

const char* const kPrefix = "Range:";

class RangeCall {
public:
    explicit RangeCall(VirtualMachine& vm) : vm(vm), arena(vm.arena()) {}

    void run(TInt32 function) {
        switch (function) {
        case 1: return setBoth(1, 0, 0);
        case 2: return copy();
        case 3: return setFromTo();
        case 4: return setBoth(3, argument(3, 1), argument(3, 2));
        case 5: return read(0);
        case 6: return read(4);
        case 7: return setWord(0, argument(2, 1));
        case 8: return setWord(4, argument(2, 1));
        case 9: return compare(true);
        case 10: return compare(false);
        case 11:
        case 12: return setFirstToEnd();
        default: vm.raiseUnknownFunction(kPrefix);
        }
    }

private:
    TInt32 argument(TInt32 argumentSlots, TInt32 k) const {
        return vm.slot(vm.sp - argumentSlots + 1 + k);
    }
    Address rangeAt(TInt32 argumentSlots, TInt32 k) const {
        const Address r = Address(argument(argumentSlots, k));
        if (r == 0) raiseNullPointer();
        return r;
    }
    static void requireNonNegative(TInt32 value) {
        if (value < 0) raise(KErrInvalidArgument);
    }

    void setBoth(TInt32 argumentSlots, TInt32 first, TInt32 count) {
        const Address r = rangeAt(argumentSlots, 0);
        requireNonNegative(first);
        requireNonNegative(count);
        arena.setWord(r, TUint32(first));
        arena.setWord(r + 4, TUint32(count));
        vm.sp -= argumentSlots;
    }
    void copy() {
        const Address r = rangeAt(2, 0);
        const Address source = rangeAt(2, 1);
        const TUint32 first = arena.word(source);
        const TUint32 count = arena.word(source + 4);
        arena.setWord(r, first);
        arena.setWord(r + 4, count);
        vm.sp -= 2;
    }
    // 3: r, from, to -> (from, to - from + 1)
    void setFromTo() {
        const TInt32 from = argument(3, 1);
        const TInt32 to = argument(3, 2);
        rangeAt(3, 0);
        // to - from + 1 overflows only for (0, INT32_MAX), which no range can hold.
        if (from < 0 || to < 0 || from > to || TInt64(to) - from + 1 > 0x7FFFFFFF) {
            raise(KErrInvalidArgument);
        }
        setBoth(3, from, to - from + 1);
    }
    void read(TUint32 offset) {
        const Address r = rangeAt(1, 0);
        vm.setSlot(vm.sp, arena.int32(r + offset));
    }
    void setWord(TUint32 offset, TInt32 value) {
        const Address r = rangeAt(2, 0);
        requireNonNegative(value);
        arena.setWord(r + offset, TUint32(value));
        vm.sp -= 2;
    }
    // 9, 10: a, b by value (first, count each)
    void compare(bool equal) {
        const bool same = argument(4, 0) == argument(4, 2) && argument(4, 1) == argument(4, 3);
        vm.sp -= 3;
        vm.setSlot(vm.sp, same == equal ? 1 : 0);
    }
    // 11, 12: r, first -> (first, -1)
    void setFirstToEnd() {
        const Address r = rangeAt(2, 0);
        const TInt32 first = argument(2, 1);
        requireNonNegative(first);
        arena.setWord(r, TUint32(first));
        arena.setWord(r + 4, TUint32(-1));
        vm.sp -= 2;
    }

    VirtualMachine& vm;
    Arena& arena;
};

} // namespace

void rangeNative(VirtualMachine& vm, TInt32 function) {
    RangeCall(vm).run(function);
}
