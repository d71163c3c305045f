#include "ExtensionCalls.h"

#include "ErrorHandling.h"
#include "VirtualMachine.h"

class ExtensionCalls::Extension {
public:
    Extension(MVMCallbackInterface& machine, const char* unknownOpcode)
        : machine(machine), unknownOpcode(unknownOpcode) {}

    TInt32 callDllNative(int, TInt32 sp, Address) {
        machine.fatalError(CAppsString(unknownOpcode), 1);
        return sp;
    }

private:
    MVMCallbackInterface& machine;
    const char* unknownOpcode;
};

ExtensionCalls::ExtensionCalls(MVMCallbackInterface& machine)
    : accelerometer(std::make_shared<Extension>(machine, "SensorDLL: Unknown opcode!")),
      maemoExtension(std::make_shared<Extension>(machine, "Maemo: Unknown opcode!")),
      audioPlayer(std::make_shared<Extension>(machine, "AudioPlayer: Unknown opcode!")),
      torch(std::make_shared<Extension>(machine, "Torch: Unknown opcode!")) {}

ExtensionCalls::~ExtensionCalls() {
    torch.reset();
    audioPlayer.reset();
    maemoExtension.reset();
    accelerometer.reset();
}

TInt32 ExtensionCalls::call(int extension, int opcode, TInt32 sp, Address stackBase) {
    switch (extension) {
    case 20: return accelerometer->callDllNative(opcode, sp, stackBase);
    case 28: return audioPlayer->callDllNative(opcode, sp, stackBase);
    case 36: return torch->callDllNative(opcode, sp, stackBase);
    case 37: return maemoExtension->callDllNative(opcode, sp, stackBase);
    default: raise(KErrVM, "Dll not supported");
    }
}
