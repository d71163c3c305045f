#include "EventLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using namespace std::chrono;

// What each expiry leaves in the trace, in the order the loop ran them.
struct Trace {
    std::string text;
    std::function<void()> mark(char c) {
        return [this, c] { text += c; };
    }
};

TEST(EventLoop, TimersDueTogetherExpireInTheOrderTheyStarted) {
    EventLoop loop;
    Trace trace;
    auto b = loop.startTimer(5, trace.mark('b'));
    auto a = loop.startTimer(5, trace.mark('a'));
    auto c = loop.startTimer(1, trace.mark('c'));
    auto end = loop.startTimer(8, [&] { loop.quit(); });
    loop.run();
    // How often c ran first depends on how late the loop woke; b and a, due together, always
    // run in the order they started.
    ASSERT_NE(trace.text.find("ba"), std::string::npos) << trace.text;
    EXPECT_EQ(trace.text.find('c'), 0u) << trace.text;
}

TEST(EventLoop, ReturnsWhenNoTimerIsLeft) {
    EventLoop loop;
    loop.run(); // nothing to wait for
    int expiries = 0;
    std::unique_ptr<TimerSource::Timer> once;
    once = loop.startTimer(0, [&] {
        ++expiries;
        once.reset(); // stopped from inside its own expiry
    });
    loop.run();
    EXPECT_EQ(expiries, 1);
}

// A timer of interval 0 runs once per pass, so the others still get their turn.
TEST(EventLoop, AZeroIntervalTimerDoesNotStarveTheOthers) {
    EventLoop loop;
    int spins = 0;
    auto spin = loop.startTimer(0, [&] { ++spins; });
    auto later = loop.startTimer(3, [&] { loop.quit(); });
    const auto start = steady_clock::now();
    loop.run();
    EXPECT_GE(steady_clock::now() - start, milliseconds(2));
    EXPECT_GT(spins, 1);
}

TEST(EventLoop, ANewIntervalRestartsTheTimer) {
    EventLoop loop;
    Trace trace;
    auto slow = loop.startTimer(2, trace.mark('s'));
    auto changer = loop.startTimer(1, [&] {
        trace.text += 'x';
        slow->setInterval(4); // a full 4 ms from now, not from the start
    });
    auto stop = loop.startTimer(6, [&] { loop.quit(); });
    loop.run();
    EXPECT_EQ(trace.text.find('s'), std::string::npos) << trace.text;
}

TEST(EventLoop, AnExpiryCanStopATimerDueInTheSamePass) {
    EventLoop loop;
    Trace trace;
    std::unique_ptr<TimerSource::Timer> second;
    auto first = loop.startTimer(2, [&] {
        trace.text += 'f';
        second.reset();
        loop.quit();
    });
    second = loop.startTimer(2, trace.mark('s'));
    loop.run();
    EXPECT_EQ(trace.text, "f");
}

} // namespace
