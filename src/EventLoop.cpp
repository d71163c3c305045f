#include "EventLoop.h"

#include <algorithm>
#include <thread>

struct EventLoop::Entry {
    std::chrono::milliseconds interval;
    Clock::time_point deadline;
    std::uint64_t order = 0;
    std::function<void()> expired;
    bool active = true;
};

class EventLoop::RunningTimer : public TimerSource::Timer {
public:
    RunningTimer(EventLoop& loop, std::shared_ptr<Entry> entry)
        : loop(loop), entry(std::move(entry)) {}
    ~RunningTimer() override { loop.stop(*entry); }
    void setInterval(int milliseconds) override {
        entry->interval = std::chrono::milliseconds(std::max(milliseconds, 0));
        loop.arm(*entry, Clock::now());
    }

private:
    EventLoop& loop;
    std::shared_ptr<Entry> entry;
};

EventLoop::~EventLoop() = default;

std::unique_ptr<TimerSource::Timer> EventLoop::startTimer(int milliseconds,
                                                          std::function<void()> expired) {
    auto entry = std::make_shared<Entry>();
    entry->interval = std::chrono::milliseconds(std::max(milliseconds, 0));
    entry->expired = std::move(expired);
    arm(*entry, Clock::now());
    entries.push_back(entry);
    return std::make_unique<RunningTimer>(*this, std::move(entry));
}

void EventLoop::arm(Entry& entry, Clock::time_point start) {
    entry.deadline = start + entry.interval;
    entry.order = ++armings;
}

void EventLoop::stop(const Entry& entry) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const auto& e) { return e.get() == &entry; });
    if (found == entries.end()) return;
    (*found)->active = false;
    entries.erase(found);
}

void EventLoop::run() {
    quitting = false;
    while (!quitting && !entries.empty()) {
        const auto next = std::min_element(entries.begin(), entries.end(), earlier);
        std::this_thread::sleep_until((*next)->deadline);
        expireDue(Clock::now());
    }
}

// One pass over the timers due now. A timer re-armed at once (interval 0) waits for the next
// pass, so it cannot starve the others.
void EventLoop::expireDue(Clock::time_point now) {
    std::vector<std::shared_ptr<Entry>> due;
    for (const auto& entry : entries)
        if (entry->deadline <= now) due.push_back(entry);
    std::sort(due.begin(), due.end(), earlier);
    for (const auto& entry : due) {
        if (quitting) return;
        // Stopped or restarted by an expiry before it in this pass.
        if (!entry->active || entry->deadline > now) continue;
        // The next expiry keeps the rhythm unless the loop has fallen behind it.
        const Clock::time_point missed = entry->deadline;
        arm(*entry, missed);
        if (entry->deadline < now) arm(*entry, now);
        // The entry stays alive through its own expiry, which may stop it.
        const std::shared_ptr<Entry> keep = entry;
        keep->expired();
    }
}

bool EventLoop::earlier(const std::shared_ptr<Entry>& a, const std::shared_ptr<Entry>& b) {
    return a->deadline != b->deadline ? a->deadline < b->deadline : a->order < b->order;
}
