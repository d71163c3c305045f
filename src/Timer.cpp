#include "Timer.h"

#include "Scheduler.h"

#include <QTimer>

namespace {

// Ids are never reused while the process lives.
int nextTimerId = 10;

} // namespace

Timer::Timer(Scheduler& scheduler, Address listener, int delay)
    : listenerReference(listener), timerId(nextTimerId++), timer(new QTimer(this)),
      scheduler(scheduler) {
    connect(timer, &QTimer::timeout, this, &Timer::timeout, Qt::DirectConnection);
    timer->setInterval(delay);
    timer->start();
}

void Timer::setDelay(int delay) {
    timer->setInterval(delay);
}

void Timer::stop() {
    timer->stop();
}

void Timer::timeout() {
    scheduler.expire(*this);
}
