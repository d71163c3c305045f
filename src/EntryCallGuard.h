#pragma once

#include "CAppsString.h"

#include <functional>

// Runs the host's calls into the machine and ends the application in an orderly way when one
// of them stops it: the exit signal ends it with status 0; the fatal signal, and an error that
// escapes the machine, write "FATAL: " and the error text to standard error and end it with
// status 1. After the end nothing more is run, and the event loop, if one runs, returns.
class EntryCallGuard {
public:
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
    bool ended = false;
    int status = 0;
};
