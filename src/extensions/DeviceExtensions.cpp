#include "DeviceExtensions.h"

#include "CAppsString.h"
#include "ErrorHandling.h"
#include "ORaw.h"

#include <cstdio>
#include <fstream>
#include <sstream>

bool HostDeviceFiles::readText(const std::string& path, std::string& text) {
    std::ifstream in(path);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

Accelerometer::Accelerometer(VirtualMachine& vm, DeviceFiles& files, std::string path)
    : machine(vm), files(files), path(std::move(path)) {}

TReal Accelerometer::accelerationComponent(int opcode) {
    int a = 0, b = 0, c = 0;
    std::string text;
    if (!files.readText(path, text) || std::sscanf(text.c_str(), "%i %i %i", &a, &b, &c) != 3)
        a = b = c = 0;
    // The driver reports Y first, then X.
    const int component = opcode == EGetAccelerometerXData   ? b
                          : opcode == EGetAccelerometerYData ? a
                                                             : c;
    return TReal(float(component) / 1000.0f);
}

TInt32 Accelerometer::callDllNative(int opcode, TInt32 top, Address stackBase) {
    if (observer == -1)
        observer = machine.findMethod(
            "<accelerometerobserver>.handle accelerometer event<fixed><fixed><fixed>", 0);
    if (opcode < EGetAccelerometerXData || opcode > EGetAccelerometerZData)
        machine.fatalError("SensorDLL: Unknown opcode!", 1);
    // The result takes the top slot and the one above it.
    if (top < 0 || top + 1 >= VirtualMachine::kStackSlots)
        machine.fatalError("SensorDLL: operand stack overflow", 1);
    const TInt64 value = ORaw::toFixed(accelerationComponent(opcode));
    Arena& arena = machine.arena();
    arena.setWord(stackBase + 4 * Address(top), TUint32(value));
    arena.setWord(stackBase + 4 * Address(top + 1), TUint32(TUint64(value) >> 32));
    return top + 1;
}

DeviceExtensions::DeviceExtensions(VirtualMachine& vm, std::shared_ptr<DeviceFiles> deviceFiles,
                                   std::shared_ptr<VideoDevice> videoDevice, std::string coverPath)
    : files(deviceFiles ? std::move(deviceFiles) : std::make_shared<HostDeviceFiles>()),
      video(videoDevice ? std::move(videoDevice) : std::make_shared<HostVideoDevice>()),
      accelerometer(std::make_unique<Accelerometer>(vm, *files)),
      platform(std::make_unique<Platform>(vm)),
      audioPlayer(std::make_unique<AudioPlayerExtension>(vm)),
      torch(std::make_unique<Torch>(vm, *video, Torch::kVideoPath, std::move(coverPath))) {}

DeviceExtensions::~DeviceExtensions() = default;

TInt32 DeviceExtensions::call(int extension, int function, TInt32 sp, Address stackBase) {
    switch (extension) {
    case kAccelerometer: return accelerometer->callDllNative(function, sp, stackBase);
    case kAudioPlayer: return audioPlayer->callDllNative(function, sp, stackBase);
    case kTorch: return torch->callDllNative(function, sp, stackBase);
    case kPlatform: return platform->callDllNative(function, sp, stackBase);
    default: raise(KErrVM, "Dll not supported");
    }
}
