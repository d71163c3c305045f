#pragma once

#include <functional>
#include <memory>

// Where the application's timers come from: the toolkit's event loop in the window, the
// runtime's own loop without one.
class TimerSource {
public:
    // A running timer; destroying it stops it, even from inside its own expiry.
    class Timer {
    public:
        virtual ~Timer() = default;
        // Restarts the timer: the next expiry comes a full new interval later.
        virtual void setInterval(int milliseconds) = 0;
    };

    virtual ~TimerSource() = default;
    // Calls expired every interval until the timer is destroyed. Timers that fall due together
    // expire in the order they were started.
    virtual std::unique_ptr<Timer> startTimer(int milliseconds, std::function<void()> expired) = 0;
};
