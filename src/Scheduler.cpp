#include "Scheduler.h"

#include "ErrorHandling.h"
#include "Timer.h"
#include "VirtualMachine.h"

#include <algorithm>
#include <climits>

namespace {

int interval(TUint32 delay) {
    return static_cast<int>(std::min<TUint32>(delay, INT_MAX));
}

} // namespace

Scheduler::Scheduler(TimerSource& source) : source(source) {}
Scheduler::~Scheduler() = default;

int Scheduler::addTimer(Address listener, TUint32 delay) {
    Z_CHECK(vm != nullptr);
    timers.push_back(std::make_unique<Timer>(*this, source, listener, interval(delay)));
    return timers.back()->id();
}

Timer* Scheduler::find(int id) const {
    for (const auto& timer : timers)
        if (timer->id() == id) return timer.get();
    return nullptr;
}

Address Scheduler::remove(int id) {
    auto found = std::find_if(timers.begin(), timers.end(),
                              [id](const auto& timer) { return timer->id() == id; });
    if (found == timers.end()) return 0;
    const Address listener = (*found)->listener();
    (*found)->stop();
    retired.push_back(std::move(*found));
    timers.erase(found);
    deleteRetiredTimers();
    return listener;
}

bool Scheduler::updateDelay(int id, TUint32 delay) {
    if (Timer* timer = find(id)) timer->setDelay(interval(delay));
    return true;
}

void Scheduler::expire(Timer& timer) {
    if (vm == nullptr) return;
    const Address listener = timer.listener();
    auto call = [this, listener] { vm->timerEvent(listener); };
    ++expiriesRunning;
    try {
        if (callRunner)
            callRunner(call);
        else
            call();
    } catch (...) {
        --expiriesRunning;
        throw;
    }
    --expiriesRunning;
    deleteRetiredTimers();
}

void Scheduler::deleteRetiredTimers() {
    if (expiriesRunning == 0) retired.clear();
}
