#include "Timer.h"

#include "Scheduler.h"

namespace {

// Ids are never reused while the process lives.
int nextTimerId = 10;

} // namespace

Timer::Timer(Scheduler& scheduler, TimerSource& source, Address listener, int delay)
    : listenerReference(listener), timerId(nextTimerId++),
      running(source.startTimer(delay, [this, &scheduler] { scheduler.expire(*this); })) {}

void Timer::setDelay(int delay) {
    if (running) running->setInterval(delay);
}
