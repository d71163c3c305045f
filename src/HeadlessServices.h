#pragma once

#include "HostServices.h"

#include <functional>

// The host services of the headless runner: no screen and no devices. The application's exit
// ends the running entry call with the exit signal, so the runner can end in an orderly way.
class HeadlessServices : public HostServices {
public:
    using LogObserver = std::function<void(const CAppsString& message)>;

    using HostServices::HostServices;

    // Sees every message the application logs, after it was written.
    void setLogObserver(LogObserver observer) { logObserver = std::move(observer); }

    void log(const CAppsString& message) override;
    void repaintRect(int, int, int, int) override {}
    [[noreturn]] void exitApplication() override;
    // There are no device extensions without a device: code 10, "Dll not supported".
    TInt32 callDll(int extension, int function, TInt32 sp, Address stackBase) override;

private:
    LogObserver logObserver;
};
