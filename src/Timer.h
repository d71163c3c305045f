#pragma once

#include "Types.h"

#include <QObject>

class QTimer;
class Scheduler;

// One application timer: a toolkit timer that repeats until the application removes it. Every
// expiry goes to the scheduler, which runs the application's timer entry point.
class Timer : public QObject {
    Q_OBJECT

public:
    // Starts at once; the id is the next of the process-wide sequence that begins at 10.
    Timer(Scheduler& scheduler, Address listener, int delay);

    Address listener() const { return listenerReference; }
    int id() const { return timerId; }
    // Restarts the timer: the next expiry comes a full new delay later.
    void setDelay(int delay);
    void stop();

public Q_SLOTS:
    void timeout();

private:
    Address listenerReference;
    int timerId;
    QTimer* timer; // a child: deleting the Timer stops and deletes it
    Scheduler& scheduler;
};
