#include "Platform.h"

#include "CAppsString.h"

#include <cstdlib>

TInt32 Platform::callDllNative(int opcode, TInt32 top, Address) {
    if (opcode != EExitAppView) machine.fatalError("Maemo: Unknown opcode!", 1);
    // The desktop may not be listening; the application carries on either way.
    [[maybe_unused]] const int status = std::system(kExitAppViewCommand);
    return top;
}
