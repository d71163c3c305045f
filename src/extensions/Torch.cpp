#include "Torch.h"

#include "CAppsString.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The request codes carry the size of the control list, which holds a pointer: the
// device's 32-bit ABI has these values; a 64-bit host has its own.
static_assert(sizeof(void*) != 4 || VIDIOC_S_EXT_CTRLS == 0xC0185648u);
static_assert(sizeof(void*) != 4 || VIDIOC_G_EXT_CTRLS == 0xC0185647u);

int HostVideoDevice::open(const std::string& path, int flags) {
    return ::open(path.c_str(), flags);
}

int HostVideoDevice::ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

void HostVideoDevice::close(int fd) {
    ::close(fd);
}

Torch::Torch(VirtualMachine& vm, VideoDevice& device, std::string videoPath, std::string coverPath)
    : machine(vm), device(device), videoPath(std::move(videoPath)),
      coverPath(std::move(coverPath)) {}

Torch::~Torch() {
    if (fd >= 0) device.close(fd);
}

void Torch::openDevice() {
    if (fd >= 0) return;
    fd = device.open(videoPath, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        fd = -1;
        machine.fatalError(
            ("Torch: Failed to open video device: " + videoPath + ": " + std::strerror(error))
                .c_str(),
            1);
    }
}

void Torch::setTorchState(int state) {
    openDevice();
    v4l2_ext_control control{};
    control.id = kTorchControl;
    control.value = 1 - state;
    v4l2_ext_controls request{};
    request.ctrl_class = kCameraClass;
    request.count = 1;
    request.controls = &control;
    if (device.ioctl(fd, VIDIOC_S_EXT_CTRLS, &request) < 0) {
        const int error = errno;
        const std::string message = std::string("Torch: Failed to set torch state to ") +
                                    (state == 0 ? "ON" : "OFF") + ": " + std::strerror(error);
        machine.fatalError(message.c_str(), 1);
    }
}

int Torch::torchState() {
    openDevice();
    v4l2_ext_control control{};
    control.id = kTorchControl;
    v4l2_ext_controls request{};
    request.ctrl_class = kCameraClass;
    request.count = 1;
    request.controls = &control;
    if (device.ioctl(fd, VIDIOC_G_EXT_CTRLS, &request) < 0) {
        const int error = errno;
        const std::string message =
            std::string("Torch: Failed to fetch torch state: ") + std::strerror(error);
        machine.fatalError(message.c_str(), 1);
    }
    return 1 - control.value;
}

bool Torch::coverOpen() {
    FILE* file = std::fopen(coverPath.c_str(), "rb");
    if (!file) {
        const int error = errno;
        const std::string message = "Torch: Failed to fetch camera cover state from: " + coverPath +
                                    ": " + std::strerror(error);
        machine.fatalError(message.c_str(), 1);
    }
    char text[20];
    const size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = '\0';
    return std::strcmp(text, "open\n") == 0;
}

void Torch::push(TInt32 top, Address stackBase, TInt32 value) {
    if (top < -1 || top + 1 >= VirtualMachine::kStackSlots)
        machine.fatalError("Torch: operand stack overflow", 1);
    machine.arena().setWord(stackBase + 4 * Address(top + 1), TUint32(value));
}

TInt32 Torch::callDllNative(int opcode, TInt32 top, Address stackBase) {
    switch (opcode) {
    case ETorchOn: setTorchState(0); return top;
    case ETorchOff: setTorchState(1); return top;
    case EGetTorchState: {
        const int state = torchState();
        push(top, stackBase, state);
        return top + 1;
    }
    case EGetCoverState: {
        const bool open = coverOpen();
        push(top, stackBase, open ? 1 : 0);
        return top + 1;
    }
    default: machine.fatalError("Torch: Unknown opcode!", 1); return top;
    }
}
