#pragma once

#include "TimerSource.h"

// Application timers on the toolkit's event loop.
class QtTimerSource : public TimerSource {
public:
    std::unique_ptr<Timer> startTimer(int milliseconds, std::function<void()> expired) override;
};
