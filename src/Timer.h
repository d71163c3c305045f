#pragma once

#include "TimerSource.h"
#include "Types.h"

#include <memory>

class Scheduler;

// One application timer: a host timer that repeats until the application removes it. Every
// expiry goes to the scheduler, which runs the application's timer entry point.
class Timer {
public:
    // Starts at once; the id is the next of the process-wide sequence that begins at 10.
    Timer(Scheduler& scheduler, TimerSource& source, Address listener, int delay);

    Address listener() const { return listenerReference; }
    int id() const { return timerId; }
    // Restarts the timer: the next expiry comes a full new delay later.
    void setDelay(int delay);
    void stop() { running.reset(); }

private:
    Address listenerReference;
    int timerId;
    std::unique_ptr<TimerSource::Timer> running; // null once stopped
};
