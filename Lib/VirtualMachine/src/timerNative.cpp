// Timer: periodic timers kept by the host. A timer's listener stays pinned while the timer
// exists, so the expiries always reach a live object.

#include "FrameworkServices.h"
#include "NativeGroups.h"
#include "VirtualMachine.h"

#include <algorithm>

namespace {

// The host hands out ids from 10 on; smaller numbers never name a timer.
constexpr TInt32 kFirstTimerId = 10;

void addTimer(VirtualMachine& vm) {
    const TInt32 delay = std::max(vm.pop(), 0);
    const Address listener = static_cast<Address>(vm.pop());
    // Every expiry dispatches on the listener's class: a null one could only fail later.
    if (listener == 0) raise(KErrNullPointer, "Timer: the listener is null");
    vm.heap().pin(listener);
    vm.push(hostServices(vm).addTimer(listener, delay));
}

void removeTimer(VirtualMachine& vm) {
    const TInt32 id = vm.pop();
    if (id < kFirstTimerId) return;
    const Address listener = hostServices(vm).removeTimer(id);
    if (listener != 0) vm.heap().unpin(listener);
}

void updateTimerDelay(VirtualMachine& vm) {
    const TInt32 delay = std::max(vm.pop(), 0);
    const TInt32 id = vm.pop();
    if (id >= kFirstTimerId) hostServices(vm).updateTimerDelay(id, delay);
}

} // namespace

void timerNative(VirtualMachine& vm, TInt32 function) {
    switch (function) {
    case 1: addTimer(vm); break;
    case 2: removeTimer(vm); break;
    case 3: updateTimerDelay(vm); break;
    default: vm.raiseUnknownFunction("Timer:");
    }
}
