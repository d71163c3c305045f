#pragma once

#include "TimerSource.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// The event loop of a host without a toolkit, where nothing but timers can happen: it sleeps
// until the next one falls due. Starting it costs nothing, so a program that never uses a timer
// never pays for a toolkit.
class EventLoop : public TimerSource {
public:
    EventLoop() = default;
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    std::unique_ptr<Timer> startTimer(int milliseconds, std::function<void()> expired) override;

    // Runs the timers until quit() is called or no timer is left.
    void run();
    void quit() { quitting = true; }

private:
    using Clock = std::chrono::steady_clock;
    struct Entry;
    class RunningTimer;

    void arm(Entry& entry, Clock::time_point start);
    void stop(const Entry& entry);
    void expireDue(Clock::time_point now);
    static bool earlier(const std::shared_ptr<Entry>& a, const std::shared_ptr<Entry>& b);

    std::vector<std::shared_ptr<Entry>> entries;
    std::uint64_t armings = 0; // orders timers that fall due together
    bool quitting = false;
};
