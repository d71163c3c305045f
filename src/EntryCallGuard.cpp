#include "EntryCallGuard.h"

#include "ErrorHandling.h"
#include "VirtualMachine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

bool explainingFromEnvironment() {
    const char* value = std::getenv("ZENTU_EXPLAIN");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace

EntryCallGuard::EntryCallGuard(std::function<void(int status)> onEnd)
    : onEnd(std::move(onEnd)), explaining(explainingFromEnvironment()) {}

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
    writeExplanation();
    if (onEnd) onEnd(exitStatus);
}

void EntryCallGuard::endWithFatalError(const CAppsString& text) {
    if (ended) return;
    const std::string line = "FATAL: " + text.toUtf8() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    end(1);
}

void EntryCallGuard::writeExplanation() const {
    if (!explaining || !explained) return;
    const std::string text = explained->explanation();
    if (text.empty()) return;
    std::string lines;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines += "EXPLAIN: " + text.substr(start, end - start) + "\n";
        start = end + 1;
    }
    std::fwrite(lines.data(), 1, lines.size(), stderr);
}
