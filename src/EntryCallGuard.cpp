#include "EntryCallGuard.h"

#include "ErrorHandling.h"
#include "VirtualMachine.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

bool EntryCallGuard::run(const std::function<void()>& call) {
    if (ended) return false;
    try {
        call();
    } catch (const ErrorHandlingException&) {
        endWithFatalError(lastErrorText());
    } catch (const EntryCallSignal& signal) {
        if (signal.value == EntryCallSignal::kExit)
            end(0);
        else
            endWithFatalError(lastErrorText());
    } catch (const std::exception& error) {
        endWithFatalError(CAppsString(error.what()));
    }
    return !ended;
}

void EntryCallGuard::end(int exitStatus) {
    if (ended) return;
    ended = true;
    status = exitStatus;
    QCoreApplication::exit(exitStatus);
}

void EntryCallGuard::endWithFatalError(const CAppsString& text) {
    if (ended) return;
    const std::string line = "FATAL: " + text.toUtf8() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    end(1);
}
