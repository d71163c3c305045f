// The image as the runtime meets it: loaded, and when it loads, main and a round of host events
// run under an instruction budget, so that every input ends. The machine must end each call
// with a result, an application error or the fatal error, never stop the process or touch
// memory it does not own, and must be left in a state that a later call could use.

#include "AppsFileIO.h"
#include "ErrorHandling.h"
#include "FrameworkServices.h"
#include "KeyEvent.h"
#include "VirtualMachine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

// Enough for a few thousand loop iterations per input, little enough for thousands of inputs a
// second.
constexpr TUint64 kInstructionBudget = 100000;
// Expiries delivered to each timer the application starts, and timers served.
constexpr int kExpiries = 2;
constexpr int kTimers = 4;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "image target: %s\n", what);
    std::abort();
}

// A host without files, screen or devices: what a fuzzed image asks of it cannot leave the
// process. Timers are kept so that their expiries can be delivered.
class FuzzHost : public FrameworkServices {
public:
    std::map<int, Address> timers; // id -> listener
    int nextTimerId = 10;

    ZARNOK::FileOutputStream* openFileForWriting(const CAppsString&, bool) override {
        return nullptr;
    }
    ZARNOK::FileInputStream* openFileForReading(const CAppsString&) override { return nullptr; }
    bool deleteFile(const CAppsString&) override { return false; }
    bool fileExists(const CAppsString&) override { return false; }
    int fileServiceReserved() override { return 0; }
    bool renameFile(const CAppsString&, const CAppsString&) override { return false; }
    bool listDirectory(const CAppsString&, Vec<CAppsString>&, Vec<CAppsString>&) override {
        return false;
    }
    bool createDirectory(const CAppsString&) override { return false; }
    bool removeDirectory(const CAppsString&) override { return false; }
    bool renameDirectory(const CAppsString&, const CAppsString&) override { return false; }
    bool directoryExists(const CAppsString&) override { return false; }
    int systemQueryA() override { return 0; }
    int systemQueryB() override { return 0; }
    CAppsString pathSeparator() override { return CAppsString("/"); }
    CAppsString platformName() override { return CAppsString("maemo"); }
    TUint64 currentTimeMillis() override { return 1700000000000ull; }
    TUint64 elapsedMillis() override { return ++clock; }
    void repaintRect(int, int, int, int) override {}
    void log(const CAppsString&) override {}
    bool setLogFile(const CAppsString&) override { return false; }
    int systemRequest(const CAppsString&) override { return 0; }
    // The machine ends the call with the exit signal itself.
    void exitApplication() override {}
    int reservedQueryA() override { return 0; }
    int reservedQueryB() override { return 0; }
    void reservedHintA() override {}
    void screenHint() override {}
    void setOrientation(int value) override { orientation = value; }
    int getOrientation() override { return orientation; }
    TInt32 callDll(int, int, TInt32, Address) override { raise(KErrVM, "Dll not supported"); }
    void getScreenSize(int& width, int& height) override { width = 800, height = 480; }
    void bitmapHint(int) override {}
    void screenHintB() override {}
    void screenHintC() override {}
    int addTimer(Address listener, int) override {
        timers[nextTimerId] = listener;
        return nextTimerId++;
    }
    Address removeTimer(int id) override {
        const auto timer = timers.find(id);
        if (timer == timers.end()) return 0;
        const Address listener = timer->second;
        timers.erase(timer);
        return listener;
    }
    bool updateTimerDelay(int id, int) override { return timers.count(id) != 0; }
    int reservedQueryC() override { return 0; }
    CAppsString applicationDirectory() override { return CAppsString("/nonexistent"); }

private:
    TUint64 clock = 0;
    int orientation = 2;
};

// What the host does around every entry call: false once the application has ended.
bool entryCall(VirtualMachine& vm, const std::function<void()>& call) {
    bool ended = false;
    try {
        call();
    } catch (const EntryCallSignal&) {
        ended = true;
    } catch (const ErrorHandlingException&) {
        ended = true;
    }
    clearLastError();
    if (vm.sp < -1 || vm.sp >= VirtualMachine::kStackSlots) broken("sp left outside the stack");
    if (vm.handlerCount < 0 || vm.handlerCount >= VirtualMachine::kHandlerRecords)
        broken("handler count left outside its table");
    // Only the exit and the fatal signal leave the machine running: the application ends.
    if (!ended && vm.isRunning()) broken("the machine is still running after its call");
    return !ended;
}

void runEvents(VirtualMachine& vm, FuzzHost& host) {
    const auto key = [&](bool pressed) {
        return entryCall(vm, [&] {
            vm.keyEvent(Zarnok::newKeyEvent(vm.heap(), 0x41, 38, 0, CAppsString("a")), pressed);
        });
    };
    if (!entryCall(vm, [&] { vm.foregroundEvent(); })) return;
    if (!key(true) || !key(false)) return;
    if (!entryCall(vm, [&] { vm.pointerEvent(0, 10, 20, 0); })) return;
    if (!entryCall(vm, [&] { vm.pointerEvent(6, 15, 25, 0); })) return;
    if (!entryCall(vm, [&] { vm.pointerEvent(1, 15, 25, 0); })) return;
    for (int round = 0; round < kExpiries; ++round) {
        int served = 0;
        // A timer event may add or remove timers: take the listeners first.
        const std::map<int, Address> due = host.timers;
        for (const auto& timer : due) {
            if (++served > kTimers) break;
            if (host.timers.count(timer.first) == 0) continue;
            if (!entryCall(vm, [&] { vm.timerEvent(timer.second); })) return;
        }
    }
    entryCall(vm, [&] { vm.backgroundEvent(); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20) return -1; // no image of interest is this large
    VirtualMachine vm;
    vm.setInstructionBudget(kInstructionBudget);
    FuzzHost host;
    ZARNOK::MemoryInputStream stream;
    static const std::uint8_t nothing = 0;
    stream.setBuffer(size == 0 ? &nothing : data, static_cast<TUint32>(size));
    if (entryCall(vm, [&] { vm.load(stream, CAppsString("index.mcb"), &host); }))
        runEvents(vm, host);
    // What a stopped call leaves on the stacks must still be safe to scan.
    try {
        vm.collectWithStackScan();
    } catch (const ErrorHandlingException&) {
    }
    clearLastError();
    return 0;
}
