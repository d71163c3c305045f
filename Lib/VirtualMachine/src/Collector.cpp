// The collection that also scans the operand stack: exact for the slots that the method
// layouts describe, conservative for the temporaries between and above the frames.

#include "VirtualMachine.h"

#include <algorithm>

namespace {

class StackScan {
public:
    explicit StackScan(VirtualMachine& vm)
        : vm(vm), heap(vm.heap()), stackStart(vm.stackBase()),
          stackEnd(vm.stackBase() + VirtualMachine::kScannedStackSlots * 4) {}

    void run() {
        TInt32 next = 0;
        const int frames = std::min(vm.methodStack.size(), vm.frameStack.size());
        for (int f = 0; f < frames; ++f) {
            const TInt32 methodIndex = vm.methodStack[f];
            if (methodIndex == -1) continue;
            const VirtualMachine::MethodGCInfo& info = vm.methodGCInfos[methodIndex];
            const TInt32 base = std::max(next, std::min(vm.frameStack[f], vm.sp + 1));
            scanConservatively(next, base);
            scanFrame(info, base);
            next = base + info.argSlots + info.extraSlots + 1 + info.localSlots;
        }
        scanConservatively(next, vm.sp + 1);
    }

private:
    void scanConservatively(TInt32 from, TInt32 to) {
        for (TInt32 i = std::max(from, 0); i < to && i <= vm.sp; ++i)
            heap.markIfInHeap(static_cast<TUint32>(vm.slot(i)));
    }

    bool isStackAddress(Address value) const { return value >= stackStart && value < stackEnd; }

    void markSlot(TInt32 s) {
        if (s > vm.sp) return;
        const Address value = static_cast<Address>(vm.slot(s));
        if (value != 0 && !isStackAddress(value)) heap.markIfInHeap(value);
    }

    void scanFrame(const VirtualMachine::MethodGCInfo& info, TInt32 base) {
        for (int offset : info.offsetsA) markSlot(base + offset);
        for (int i = 0; i < info.offsetsB.size(); ++i) {
            const TInt32 s = base + info.offsetsB[i];
            if (s <= vm.sp)
                heap.markVectorField(static_cast<Address>(vm.slot(s)), info.flagsB[i] != 0);
        }
        for (int offset : info.offsetsC) markSlot(base + offset);
        for (int i = 0; i < info.offsetsD.size(); ++i) {
            const TInt32 s = base + info.offsetsD[i];
            if (s + 1 <= vm.sp && (vm.slot(s) != 0 || vm.slot(s + 1) != 0))
                heap.markVectorField(vm.slotAddress(s), info.flagsD[i] != 0);
        }
    }

    VirtualMachine& vm;
    VMHeap& heap;
    const Address stackStart;
    const Address stackEnd;
};

} // namespace

void VirtualMachine::collectWithStackScan() {
    StackScan(*this).run();
    vmHeap.collect();
}
