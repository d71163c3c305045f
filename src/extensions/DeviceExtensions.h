#pragma once

#include "AudioPlayer.h"
#include "Platform.h"
#include "Torch.h"
#include "Types.h"
#include "VirtualMachine.h"

#include <memory>
#include <string>

// Where the extensions read their device files; tests point them at temporary files.
class DeviceFiles {
public:
    virtual ~DeviceFiles() = default;
    // The whole text of the file, or false when it cannot be opened.
    virtual bool readText(const std::string& path, std::string& text) = 0;
};

// The host's own files.
class HostDeviceFiles : public DeviceFiles {
public:
    bool readText(const std::string& path, std::string& text) override;
};

// Extension 20: one axis of the device's acceleration per call, as a Fixed value.
class Accelerometer {
public:
    static constexpr const char* kCoordinatePath = "/sys/class/i2c-adapter/i2c-3/3-001d/coord";
    enum Opcode { EGetAccelerometerXData = 11, EGetAccelerometerYData, EGetAccelerometerZData };

    Accelerometer(VirtualMachine& vm, DeviceFiles& files, std::string path = kCoordinatePath);
    TInt32 callDllNative(int opcode, TInt32 top, Address stackBase);

    // An unreadable file, or one that does not start with three integers, reads as no
    // acceleration on every axis (0.0), so an application polling a device without the
    // sensor sees a device at rest instead of garbage.
    TReal accelerationComponent(int opcode);

private:
    VirtualMachine& machine;
    DeviceFiles& files;
    std::string path;
    TInt32 observer = -1;
};

// Owns the extension objects and routes the machine's extension calls to them. A front
// end's FrameworkServices::callDll forwards here. The machine must outlive it.
class DeviceExtensions {
public:
    // Without files or video device the extensions use the host's own.
    explicit DeviceExtensions(VirtualMachine& vm, std::shared_ptr<DeviceFiles> files = nullptr,
                              std::shared_ptr<VideoDevice> video = nullptr,
                              std::string coverPath = Torch::kCoverPath);
    ~DeviceExtensions();
    // Runs extension's function on the operand stack (slot i at stackBase + 4 * i, top at
    // index sp) and returns the new top. Ids with no extension raise code 10, "Dll not supported".
    TInt32 call(int extension, int function, TInt32 sp, Address stackBase);
    AudioPlayerExtension& audio() { return *audioPlayer; }

    static constexpr int kAccelerometer = 20;
    static constexpr int kAudioPlayer = 28;
    static constexpr int kTorch = 36;
    static constexpr int kPlatform = 37;

private:
    std::shared_ptr<DeviceFiles> files;
    std::shared_ptr<VideoDevice> video;
    std::unique_ptr<Accelerometer> accelerometer;
    // Made in this order, destroyed in the reverse one.
    std::unique_ptr<Platform> platform;
    std::unique_ptr<AudioPlayerExtension> audioPlayer;
    std::unique_ptr<Torch> torch;
};
