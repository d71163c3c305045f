#pragma once

#include "Types.h"
#include "VirtualMachine.h"

// Extension 37: asks the desktop to show its task switcher, sending the application to the
// background.
class Platform {
public:
    static constexpr const char* kExitAppViewCommand =
        "dbus-send --type=signal /lofasz com.nokia.hildon_desktop.exit_app_view";
    enum Opcode { EExitAppView = 1 };

    explicit Platform(VirtualMachine& vm) : machine(vm) {}
    TInt32 callDllNative(int opcode, TInt32 top, Address stackBase);

private:
    VirtualMachine& machine;
};
