// zentu-run: the runtime without a window, for tests and for application developers.

#include "EventScript.h"
#include "FileUtility.h"
#include "HeadlessRunner.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

namespace {

constexpr int kUsageError = 2;

int usage() {
    std::fputs("usage: zentu-run [--explain] [--events FILE] [--time-limit MS] "
               "[--instruction-budget N] [APPDIR]\n"
               "Runs the application in APPDIR (default: the working directory) without a\n"
               "window; README.md describes the event script. --explain (or ZENTU_EXPLAIN=1)\n"
               "says why the application failed.\n",
               stderr);
    return kUsageError;
}

struct Arguments {
    std::string events;
    std::optional<int> timeLimit;
    TUint64 instructionBudget = 0; // 0: no limit
    std::optional<std::string> directory;
    bool explain = false;
};

std::optional<int> milliseconds(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 0x7FFFFFFF) return std::nullopt;
    return static_cast<int>(value);
}

// A positive decimal count.
std::optional<TUint64> count(const char* text) {
    if (*text < '0' || *text > '9') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || value == 0) return std::nullopt;
    return value;
}

bool parseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--explain") {
            arguments.explain = true;
        } else if (argument == "--events" && i + 1 < argc) {
            arguments.events = argv[++i];
        } else if (argument == "--time-limit" && i + 1 < argc) {
            arguments.timeLimit = milliseconds(argv[++i]);
            if (!arguments.timeLimit) return false;
        } else if (argument == "--instruction-budget" && i + 1 < argc) {
            const std::optional<TUint64> budget = count(argv[++i]);
            if (!budget) return false;
            arguments.instructionBudget = *budget;
        } else if (!argument.starts_with("-") && !arguments.directory) {
            arguments.directory = argument;
        } else {
            return false;
        }
    }
    return true;
}

bool readScript(const std::string& path, std::vector<ScriptStep>& steps) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    // An empty script copies nothing, which marks the copy failed; only a read error counts.
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        std::fprintf(stderr, "zentu-run: cannot read '%s'\n", path.c_str());
        return false;
    }
    std::string error;
    if (parseEventScript(text.str(), steps, error)) return true;
    std::fprintf(stderr, "zentu-run: %s: %s\n", path.c_str(), error.c_str());
    return false;
}

// The time limit also holds when the application never returns to the event loop: a second
// after the limit, this ends the process from its own thread.
class Watchdog {
public:
    explicit Watchdog(int limit) {
        thread = std::thread([this, limit] {
            std::unique_lock lock(mutex);
            const auto deadline = std::chrono::milliseconds(limit) + std::chrono::seconds(1);
            if (stopped.wait_for(lock, deadline, [this] { return done; })) return;
            std::fprintf(stderr, "zentu-run: time limit of %d ms reached\n", limit);
            std::_Exit(HeadlessRunner::kTimeLimitReached);
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        stopped.notify_one();
        thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable stopped;
    bool done = false;
    std::thread thread;
};

// Like any path, in the file system's encoding; a byte that is not UTF-8 becomes U+FFFD.
CAppsString decodedName(const std::string& name) {
    CAppsString decoded;
    FileUtility::decodeName(name, decoded);
    return decoded;
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!parseArguments(argc, argv, arguments)) return usage();

    RunnerOptions options;
    options.applicationDirectory =
        arguments.directory ? FileUtility::absolutePath(decodedName(*arguments.directory))
                            : FileUtility::currentDirectory();
    options.timeLimit = arguments.timeLimit.value_or(-1);
    options.scriptName = arguments.events;
    options.instructionBudget = arguments.instructionBudget;
    options.explain = arguments.explain;
    if (!arguments.events.empty() && !readScript(arguments.events, options.script))
        return kUsageError;

    std::optional<Watchdog> watchdog;
    if (arguments.timeLimit) watchdog.emplace(*arguments.timeLimit);
    ToolkitStarter toolkit(argc, argv);
    HeadlessRunner runner(std::move(options), toolkit);
    return runner.run();
}
