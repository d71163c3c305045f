#pragma once

#include "Types.h"

#include <functional>
#include <memory>
#include <vector>

class Timer;
class TimerSource;
class VirtualMachine;

// The application's timers. Each expiry runs the application's system-timer entry point on the
// timer's listener, at once.
class Scheduler {
public:
    // How the host runs a call into the machine. A call can end the application (the exit or
    // the fatal signal, an escaping error), and that must not unwind through the toolkit's
    // event loop: the host catches it here. Without a runner the call runs bare.
    using CallRunner = std::function<void(const std::function<void()>& call)>;

    explicit Scheduler(TimerSource& source);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void setMachine(VirtualMachine* machine) { vm = machine; }
    void setCallRunner(CallRunner runner) { callRunner = std::move(runner); }

    // Creates and starts a repeating timer; returns its id. Needs the machine.
    int addTimer(Address listener, TUint32 delay);
    Timer* find(int id) const; // null when no timer has this id
    // The removed timer's listener, 0 when no timer has this id.
    Address remove(int id);
    // Changes the delay of the timer with this id, if there is one; always true.
    bool updateDelay(int id, TUint32 delay);
    int timerCount() const { return static_cast<int>(timers.size()); }

    // Called by a timer on each expiry.
    void expire(Timer& timer);

private:
    void deleteRetiredTimers();

    TimerSource& source;
    VirtualMachine* vm = nullptr;
    CallRunner callRunner;
    std::vector<std::unique_ptr<Timer>> timers; // in creation order
    // Removed timers wait here, stopped, until no expiry runs: the application may remove
    // the very timer whose expiry is running.
    std::vector<std::unique_ptr<Timer>> retired;
    int expiriesRunning = 0;
};
