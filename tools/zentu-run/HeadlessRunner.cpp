#include "HeadlessRunner.h"

#include "AppsFileIO.h"
#include "FileUtility.h"
#include "KeyEvent.h"
#include "VirtualMachine.h"

#include <cstdio>

namespace {

// The pointer kinds the machine's pointer entry point receives.
constexpr TInt32 kPointerPress = 0;
constexpr TInt32 kPointerRelease = 1;
constexpr TInt32 kPointerMove = 6;

} // namespace

HeadlessRunner::HeadlessRunner(RunnerOptions runnerOptions, ToolkitStarter& toolkit)
    : options(std::move(runnerOptions)), toolkit(toolkit),
      services(options.applicationDirectory, scheduler) {
    scheduler.setCallRunner([this](const std::function<void()>& call) { runEntryCall(call); });
    services.setLogObserver([this](const CAppsString& message) { observeLog(message); });
}

HeadlessRunner::~HeadlessRunner() = default;

int HeadlessRunner::run() {
    services.markStartTime();
    vm = std::make_unique<VirtualMachine>();
    vm->setGraphics(toolkit.deferredGraphics());
    vm->setInstructionBudget(options.instructionBudget);
    scheduler.setMachine(vm.get());
    if (options.explain) guard.setExplaining(true);
    guard.explain(vm.get());

    const CAppsString imageName("index.mcb");
    std::unique_ptr<ZARNOK::FileInputStream> image(services.openFileForReading(imageName));
    if (!image) {
        const std::string path = services.files().resolve(imageName).toUtf8();
        std::fprintf(stderr, "Failed to open '%s'\n", path.c_str());
        return 1;
    }
    if (options.timeLimit >= 0) {
        limitTimer = loop.startTimer(options.timeLimit, [this] {
            std::fprintf(stderr, "zentu-run: time limit of %d ms reached\n", options.timeLimit);
            guard.end(kTimeLimitReached);
        });
    }
    startScript();
    runEntryCall([&] { vm->load(*image, imageName, &services); });
    image.reset();
    if (!guard.hasEnded()) loop.run();
    return guard.exitStatus();
}

void HeadlessRunner::runEntryCall(const std::function<void()>& call) {
    if (guard.run(call)) endWhenNothingIsLeft();
}

// Only timers, the script and the application's own calls can run application code.
void HeadlessRunner::endWhenNothingIsLeft() {
    if (guard.hasEnded() || scheduler.timerCount() > 0 || scriptPaused) return;
    if (awaitingLog) {
        const ScriptStep& step = options.script[nextStep];
        std::fprintf(stderr,
                     "zentu-run: %s:%d: waiting for the log line \"%s\", but nothing is left to "
                     "run\n",
                     options.scriptName.c_str(), step.line, step.text.toUtf8().c_str());
        guard.end(kScriptFailure);
        return;
    }
    if (nextStep == options.script.size()) guard.end(0);
}

// An await-log at the very start is armed before main runs; every other first step waits
// for the event loop.
void HeadlessRunner::startScript() {
    if (options.script.empty()) return;
    if (options.script[0].kind == ScriptStep::AwaitLog) {
        awaitingLog = true;
        return;
    }
    resumeScriptAfter(0);
}

void HeadlessRunner::resumeScriptAfter(int milliseconds) {
    scriptPaused = true;
    scriptTimer = loop.startTimer(milliseconds, [this] {
        scriptTimer.reset();
        playScript(false);
        endWhenNothingIsLeft();
    });
}

// Runs steps until a wait, an await-log or the end. Inside a call (after an awaited log line)
// the events are delivered at once, so the machine queues them behind the running call.
void HeadlessRunner::playScript(bool insideCall) {
    scriptPaused = false;
    while (nextStep < options.script.size() && !guard.hasEnded()) {
        const ScriptStep& step = options.script[nextStep];
        if (step.kind == ScriptStep::AwaitLog) {
            awaitingLog = true;
            return;
        }
        // Repaints come from the event loop, never from inside a running call.
        if (insideCall && step.kind == ScriptStep::Draw) {
            resumeScriptAfter(0);
            return;
        }
        ++nextStep;
        if (step.kind == ScriptStep::Wait) {
            resumeScriptAfter(step.milliseconds);
            return;
        }
        if (insideCall)
            deliver(step);
        else
            runEntryCall([&] { deliver(step); });
    }
}

void HeadlessRunner::deliver(const ScriptStep& step) {
    switch (step.kind) {
    case ScriptStep::KeyPress:
    case ScriptStep::KeyRelease: {
        const Address event =
            Zarnok::newKeyEvent(vm->heap(), step.key, step.scanCode, 0, step.text);
        vm->keyEvent(event, step.kind == ScriptStep::KeyPress);
        break;
    }
    case ScriptStep::PointerPress:
        vm->pointerEvent(kPointerPress, step.x, step.y, step.modifiers);
        break;
    case ScriptStep::PointerRelease:
        vm->pointerEvent(kPointerRelease, step.x, step.y, step.modifiers);
        break;
    case ScriptStep::PointerMove:
        vm->pointerEvent(kPointerMove, step.x, step.y, step.modifiers);
        break;
    case ScriptStep::Draw: drawFrame(step); break;
    case ScriptStep::Foreground: vm->foregroundEvent(); break;
    case ScriptStep::Background: vm->backgroundEvent(); break;
    case ScriptStep::Wait:
    case ScriptStep::AwaitLog: break;
    }
}

void HeadlessRunner::observeLog(const CAppsString& message) {
    if (!awaitingLog || guard.hasEnded() || message != options.script[nextStep].text) return;
    awaitingLog = false;
    ++nextStep;
    playScript(true);
}

void HeadlessRunner::drawFrame(const ScriptStep& step) {
    int width = 0, height = 0;
    services.getScreenSize(width, height);
    if (!toolkit.toolkit().drawFrame(*vm, width, height, step.text.toUtf8())) {
        std::fprintf(stderr, "zentu-run: %s:%d: cannot write '%s'\n", options.scriptName.c_str(),
                     step.line, step.text.toUtf8().c_str());
        guard.end(kScriptFailure);
    }
}
