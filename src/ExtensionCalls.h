#pragma once

#include "Types.h"

#include <memory>

class MVMCallbackInterface;

// Routes the application's extension calls to the device extensions by id: 20 accelerometer,
// 28 audio player, 36 torch, 37 platform calls; any other id raises code 10 "Dll not
// supported". Until the device extensions exist each id has an extension that knows no
// opcode: every call ends the entry call with the fatal error, as an unknown opcode does.
class ExtensionCalls {
public:
    explicit ExtensionCalls(MVMCallbackInterface& machine);
    ~ExtensionCalls();
    ExtensionCalls(const ExtensionCalls&) = delete;
    ExtensionCalls& operator=(const ExtensionCalls&) = delete;

    // Works on the operand stack (slot i at stackBase + 4 * i, top at sp); returns the new sp.
    TInt32 call(int extension, int opcode, TInt32 sp, Address stackBase);

    class Extension;

private:
    // In creation order; destroyed in reverse.
    std::shared_ptr<Extension> accelerometer;
    std::shared_ptr<Extension> maemoExtension;
    std::shared_ptr<Extension> audioPlayer;
    std::shared_ptr<Extension> torch;
};
