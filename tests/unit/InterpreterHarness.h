#pragma once

// Runs small programs written in the assembly language on a machine with recording host
// services: what the program logs through Debug: 1, and how main ended.

#include "AppsFileIO.h"
#include "Assembler.h"
#include "FrameworkServices.h"
#include "VirtualMachine.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

// Host services that record the log and hand device-extension calls to a test hook.
class RecordingServices : public FrameworkServices {
public:
    // Sees the machine in the middle of its run; returns the new sp.
    using Extension = std::function<TInt32(VirtualMachine& vm, int extension, int function)>;

    std::vector<std::string> logLines;
    Extension extension;
    VirtualMachine* machine = nullptr;

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
    CAppsString pathSeparator() override { return "/"; }
    CAppsString platformName() override { return "test"; }
    TUint64 currentTimeMillis() override { return 0; }
    TUint64 elapsedMillis() override { return 0; }
    void repaintRect(int, int, int, int) override {}
    void log(const CAppsString& message) override { logLines.push_back(latin1(message)); }
    bool setLogFile(const CAppsString&) override { return true; }
    int systemRequest(const CAppsString&) override { return 0; }
    void exitApplication() override {}
    int reservedQueryA() override { return 0; }
    int reservedQueryB() override { return 0; }
    void reservedHintA() override {}
    void screenHint() override {}
    void setOrientation(int) override {}
    int getOrientation() override { return 2; }
    TInt32 callDll(int extension, int function, TInt32 sp, Address) override {
        return this->extension ? this->extension(*machine, extension, function) : sp;
    }
    void getScreenSize(int& width, int& height) override { width = 800, height = 480; }
    void bitmapHint(int) override {}
    void screenHintB() override {}
    void screenHintC() override {}
    int addTimer(Address, int) override { return 0; }
    Address removeTimer(int) override { return 0; }
    bool updateTimerDelay(int, int) override { return false; }
    int reservedQueryC() override { return 0; }
    CAppsString applicationDirectory() override { return "/tmp"; }

    static std::string latin1(const CAppsString& text) {
        std::string s;
        for (int i = 0; i < text.size(); ++i) s += static_cast<char>(text[i]);
        return s;
    }
};

// How main ended and what it logged.
struct Outcome {
    enum Ending { Returned, Exit, Fatal, Error } ending = Returned;
    TInt32 errorCode = 0; // Error: the code that reached the host
    TInt32 sp = 0;        // where the run left the stack
    std::vector<std::string> log;
    std::string explanation; // the machine's, when the call failed
    bool budgetSpent = false;
};

// The tables and methods every test program shares. The internal throw logs the error text and
// code and throws a Failure; the last resort logs "uncaught" and asks the host to exit.
inline const char* const kProgramPrelude = R"(
.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw
.export "vmprintthrowableandexit<*throwable>" code=last_resort method=last_resort
.types
.type Failure
.type Base
.type Derived super=Base
.type Other
.methods
.method main
.method internal_throw args=2
.method last_resort args=1
.code
internal_throw:                 ; code, text, return address
    push_local -2
    native 30, 1
    push_local -3
    int_to_string
    native 30, 1
    new_object 1, 2
    dup
    store_type Failure
    dup
    field_addr 1
    push_local -5
    store
    throw_object
last_resort:                    ; throwable, return address
    push_string "uncaught"
    native 30, 1
    push_string "exit"
    native 32, 2
)";

// A method of calls and returns: fib(n) the slow way.
inline const char* const kFibonacci = R"(
.method fib args=1
fib:                            ; n, return address; leaves fib(n) in n's slot
    push_local -2
    push_int 2
    lt
    jump_if_false recurse
    ret 0, 1
recurse:
    push_local_addr -2
    push_local -3
    push_int 1
    sub
    call fib
    push_local -4
    push_int 2
    sub
    call fib
    add
    store
    ret 0, 1
)";

// A line holding only "print" logs the int on top and pops it.
inline std::string expandPrint(const std::string& body) {
    std::istringstream in(body);
    std::string line, out;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line.compare(start, std::string::npos, "print") == 0)
            out += "    int_to_string\n    native 30, 1\n";
        else
            out += line + "\n";
    }
    return out;
}

// The prelude, then main: the body and a return to -1 whatever the body left on the stack;
// then the other methods.
inline std::string program(const std::string& mainBody, const std::string& methods = "") {
    return std::string(kProgramPrelude) + "main:\n" + expandPrint(mainBody) +
           "    push_int -1\n    ret 0, 0\n" + expandPrint(methods);
}

inline Outcome runImage(VirtualMachine& vm, RecordingServices& services,
                        const std::vector<std::uint8_t>& bytes) {
    ZARNOK::MemoryInputStream stream;
    stream.setBuffer(bytes.data(), static_cast<TUint32>(bytes.size()));
    Outcome outcome;
    services.machine = &vm;
    clearLastError();
    try {
        vm.load(stream, "index.mcb", &services);
    } catch (const EntryCallSignal& signal) {
        outcome.ending = signal.value == EntryCallSignal::kExit ? Outcome::Exit : Outcome::Fatal;
    } catch (const ErrorHandlingException&) {
        outcome.ending = Outcome::Error;
        outcome.errorCode = lastErrorCode();
    }
    clearLastError();
    outcome.log = services.logLines;
    outcome.sp = vm.sp;
    outcome.explanation = vm.explanation();
    outcome.budgetSpent = vm.instructionBudgetExhausted();
    return outcome;
}

inline Outcome runProgram(const std::string& source,
                          const RecordingServices::Extension& extension = {},
                          TUint64 instructionBudget = 0) {
    VirtualMachine vm;
    vm.setInstructionBudget(instructionBudget);
    RecordingServices services;
    services.extension = extension;
    return runImage(vm, services, assembleOrThrow(source));
}
