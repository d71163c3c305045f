#include "HostServices.h"

#include "AppsFileIO.h"
#include "Scheduler.h"

#include <algorithm>
#include <cstdio>
#include <string>

HostServices::HostServices(const CAppsString& applicationDirectory, Scheduler& scheduler)
    : fileServices(applicationDirectory), scheduler(scheduler),
      startTime(std::chrono::steady_clock::now()) {}

HostServices::~HostServices() = default;

void HostServices::markStartTime() {
    startTime = std::chrono::steady_clock::now();
}

TUint64 HostServices::currentTimeMillis() {
    using namespace std::chrono;
    const auto sinceEpoch = system_clock::now().time_since_epoch();
    return static_cast<TUint64>(duration_cast<milliseconds>(sinceEpoch).count());
}

// A steady clock: a change of the wall clock does not make the elapsed time jump or wrap.
TUint64 HostServices::elapsedMillis() {
    using namespace std::chrono;
    const auto elapsed = steady_clock::now() - startTime;
    return static_cast<TUint64>(duration_cast<milliseconds>(elapsed).count());
}

void HostServices::log(const CAppsString& message) {
    std::string line = "LOG: ";
    for (TUint16 unit : message) line += static_cast<char>(unit & 0xFF);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);

    if (!logWriter || message.isEmpty()) return;
    const std::string entry = "LOG: " + message.toUtf8() + "\n";
    logWriter->write(reinterpret_cast<const TUint8*>(entry.data()),
                     static_cast<TInt32>(entry.size()));
}

bool HostServices::setLogFile(const CAppsString& name) {
    if (name.isEmpty()) {
        logWriter.reset();
        return true;
    }
    if (!HostFileServices::isAcceptableName(name)) return false;
    // A log file that fails to open stays in place, unopened: later lines reach only
    // standard error.
    logWriter = std::make_unique<ZARNOK::FileOutputStream>();
    return logWriter->open(fileServices.resolve(name));
}

void HostServices::getScreenSize(int& width, int& height) {
    const bool landscape = orientation == kLandscape;
    width = landscape ? 800 : 480;
    height = landscape ? 480 : 800;
}

int HostServices::addTimer(Address listener, int delay) {
    return scheduler.addTimer(listener, static_cast<TUint32>(std::max(delay, 0)));
}

Address HostServices::removeTimer(int id) {
    return scheduler.remove(id);
}

bool HostServices::updateTimerDelay(int id, int delay) {
    return scheduler.updateDelay(id, static_cast<TUint32>(std::max(delay, 0)));
}
