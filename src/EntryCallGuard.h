#pragma once

#include "CAppsString.h"

#include <functional>

class VirtualMachine;

// Runs the host's calls into the machine and ends the application in an orderly way when one
// of them stops it: the exit signal ends it with status 0; the fatal signal, and an error that
// escapes the machine, write "FATAL: " and the error text to standard error and end it with
// status 1. After the end nothing more is run, and the event loop, if one runs, returns.
//
// When explaining (ZENTU_EXPLAIN=1 in the environment, or zentu-run --explain), the end also
// writes the machine's explanation of its failure, each line after "EXPLAIN: ".
class EntryCallGuard {
public:
    // onEnd runs once, with the status, when the application ends: it stops the host's loop.
    explicit EntryCallGuard(std::function<void(int status)> onEnd);
    void setExplaining(bool on) { explaining = on; }
    // The machine whose failures the end explains; null for none.
    void explain(const VirtualMachine* machine) { explained = machine; }

    // Runs the call unless the application has ended. False when it has ended, before or
    // during this call.
    bool run(const std::function<void()>& call);
    // Ends the application with this status, unless it has ended already.
    void end(int status);
    // Writes the "FATAL: " line for this text and ends with status 1.
    void endWithFatalError(const CAppsString& text);
    bool hasEnded() const { return ended; }
    int exitStatus() const { return status; }

private:
    void writeExplanation() const;

    std::function<void(int status)> onEnd;
    bool explaining;
    const VirtualMachine* explained = nullptr;
    bool ended = false;
    int status = 0;
};
