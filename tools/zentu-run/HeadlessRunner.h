#pragma once

#include "EntryCallGuard.h"
#include "EventLoop.h"
#include "EventScript.h"
#include "HeadlessServices.h"
#include "Scheduler.h"
#include "Toolkit.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class VirtualMachine;

struct RunnerOptions {
    CAppsString applicationDirectory;
    std::vector<ScriptStep> script;
    std::string scriptName;        // for messages about the script
    int timeLimit = -1;            // milliseconds; negative: none
    TUint64 instructionBudget = 0; // VirtualMachine::setInstructionBudget; 0: none
    bool explain = false;          // explain a failure even without ZENTU_EXPLAIN=1
};

// The runtime without a window: loads index.mcb from the application directory, runs main,
// then runs its own event loop with the application's timers and the event script until the
// application ends, no timer is left and the script is over, or the time limit passes. The
// toolkit starts only for graphics.
class HeadlessRunner {
public:
    static constexpr int kScriptFailure = 2;
    static constexpr int kTimeLimitReached = 124;

    HeadlessRunner(RunnerOptions options, ToolkitStarter& toolkit);
    ~HeadlessRunner();

    // Returns the exit status.
    int run();

private:
    void runEntryCall(const std::function<void()>& call);
    void endWhenNothingIsLeft();
    void startScript();
    void playScript(bool insideCall);
    void deliver(const ScriptStep& step);
    void observeLog(const CAppsString& message);
    // The script goes on after this many milliseconds, in the event loop.
    void resumeScriptAfter(int milliseconds);
    // A draw event on the back buffer, which is then written to the step's PNG file.
    void drawFrame(const ScriptStep& step);

    RunnerOptions options;
    ToolkitStarter& toolkit;
    // Declared first: destroyed last, after every timer started on it.
    EventLoop loop;
    Scheduler scheduler{loop};
    HeadlessServices services;
    EntryCallGuard guard{[this](int) { loop.quit(); }};
    std::unique_ptr<VirtualMachine> vm;
    std::size_t nextStep = 0;
    bool scriptPaused = false; // a wait, or the start, is pending
    bool awaitingLog = false;  // the next step is an await-log
    std::unique_ptr<TimerSource::Timer> scriptTimer;
    std::unique_ptr<TimerSource::Timer> limitTimer;
};
