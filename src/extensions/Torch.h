#pragma once

#include "Types.h"
#include "VirtualMachine.h"

#include <string>

// The camera's video device; tests stand in a fake for the driver.
class VideoDevice {
public:
    virtual ~VideoDevice() = default;
    // As open(2) and ioctl(2): -1 with errno set on failure.
    virtual int open(const std::string& path, int flags) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void close(int fd) = 0;
};

// The host's own device.
class HostVideoDevice : public VideoDevice {
public:
    int open(const std::string& path, int flags) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void close(int fd) override;
};

// Extension 36: the camera's flash LED as a torch, and the lens cover's state.
class Torch {
public:
    static constexpr const char* kVideoPath = "/dev/video0";
    static constexpr const char* kCoverPath = "/sys/devices/platform/gpio-switch/cam_shutter/state";
    static constexpr TUint32 kCameraClass = 0x009A0000;
    static constexpr TUint32 kTorchControl = 0x009A0910;
    enum Opcode { ETorchOn = 1, ETorchOff, EGetTorchState, EGetCoverState };

    Torch(VirtualMachine& vm, VideoDevice& device, std::string videoPath = kVideoPath,
          std::string coverPath = kCoverPath);
    ~Torch();
    TInt32 callDllNative(int opcode, TInt32 top, Address stackBase);

private:
    void openDevice();
    // State as the application sees it: 0 on, 1 off.
    void setTorchState(int state);
    int torchState();
    bool coverOpen();
    void push(TInt32 top, Address stackBase, TInt32 value);

    VirtualMachine& machine;
    VideoDevice& device;
    std::string videoPath;
    std::string coverPath;
    int fd = -1;
};
