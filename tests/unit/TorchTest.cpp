#include "DeviceExtensions.h"

#include "ErrorHandling.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <unistd.h>

namespace {

// Stands in for the camera driver: one torch control, checks the request's layout.
class FakeCamera : public VideoDevice {
public:
    int opens = 0, closes = 0;
    int openError = 0, ioctlError = 0;
    std::string openedPath;
    int openedFlags = -1;
    TInt32 ledValue = 0;

    int open(const std::string& path, int flags) override {
        ++opens;
        openedPath = path;
        openedFlags = flags;
        if (openError) {
            errno = openError;
            return -1;
        }
        return 42;
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        auto* controls = static_cast<v4l2_ext_controls*>(argument);
        EXPECT_EQ(fd, 42);
        EXPECT_EQ(controls->ctrl_class, Torch::kCameraClass);
        EXPECT_EQ(controls->count, 1u);
        EXPECT_EQ(controls->controls[0].id, Torch::kTorchControl);
        if (ioctlError) {
            errno = ioctlError;
            return -1;
        }
        if (request == VIDIOC_S_EXT_CTRLS)
            ledValue = controls->controls[0].value;
        else if (request == VIDIOC_G_EXT_CTRLS)
            controls->controls[0].value = ledValue;
        else
            ADD_FAILURE() << "request " << std::hex << request;
        return 0;
    }
    void close(int fd) override {
        EXPECT_EQ(fd, 42);
        ++closes;
    }
};

struct TorchTest : ::testing::Test {
    VirtualMachine vm;
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>();
    // ctest runs each test in its own process at once, so each needs its own cover file.
    std::string coverPath = ::testing::TempDir() + "zentu-cover-state-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::unique_ptr<DeviceExtensions> extensions =
        std::make_unique<DeviceExtensions>(vm, nullptr, camera, coverPath);

    void TearDown() override { std::remove(coverPath.c_str()); }
    void writeCover(const std::string& text) {
        FILE* file = std::fopen(coverPath.c_str(), "wb");
        ASSERT_TRUE(file);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    TInt32 call(int opcode, TInt32 top = 4) {
        return extensions->call(DeviceExtensions::kTorch, opcode, top, vm.stackBase());
    }
    std::string fatalMessage(int opcode) {
        EXPECT_THROW(call(opcode), ErrorHandlingException);
        EXPECT_EQ(lastErrorCode(), KErrFatal);
        return vm.explanation();
    }
};

TEST_F(TorchTest, SwitchingAndReadingBackTheState) {
    const struct {
        int set;
        TInt32 led, state;
    } cases[] = {{1, 1, 0}, {2, 0, 1}, {1, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        vm.setSlot(5, 77);
        EXPECT_EQ(call(c.set), 4);
        EXPECT_EQ(camera->ledValue, c.led);
        EXPECT_EQ(vm.slot(5), 77); // setting leaves the stack alone
        EXPECT_EQ(call(3), 5);
        EXPECT_EQ(vm.slot(5), c.state);
    }
}

TEST_F(TorchTest, TheDeviceIsOpenedOnceReadOnlyAndClosedWithTheExtension) {
    for (int i = 0; i < 20; ++i) call(1 + i % 3);
    EXPECT_EQ(camera->opens, 1);
    EXPECT_EQ(camera->openedPath, "/dev/video0");
    EXPECT_EQ(camera->openedFlags, O_RDONLY);
    extensions.reset();
    EXPECT_EQ(camera->closes, 1);
}

TEST_F(TorchTest, OnlyOpenWithItsNewlineIsAnOpenCover) {
    const struct {
        const char* text;
        TInt32 open;
    } cases[] = {{"open\n", 1},
                 {"open", 0},
                 {"closed\n", 0},
                 {"", 0},
                 {"open\n\n", 0},
                 {"OPEN\n", 0},
                 {"open\nxxxxxxxxxxxxxxxxxxxxxxxx", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        writeCover(c.text);
        vm.setSlot(5, -1);
        EXPECT_EQ(call(4), 5);
        EXPECT_EQ(vm.slot(5), c.open);
    }
    EXPECT_EQ(camera->opens, 0); // the cover needs no camera
}

TEST_F(TorchTest, FailuresAreFatalWithTheirCause) {
    camera->openError = ENOENT;
    EXPECT_EQ(fatalMessage(1),
              "Torch: Failed to open video device: /dev/video0: " + std::string(strerror(ENOENT)));
    EXPECT_EQ(fatalMessage(3),
              "Torch: Failed to open video device: /dev/video0: " + std::string(strerror(ENOENT)));
    EXPECT_EQ(camera->opens, 2); // a failed open is tried again

    camera->openError = 0;
    camera->ioctlError = EINVAL;
    const std::string invalid = strerror(EINVAL);
    EXPECT_EQ(fatalMessage(1), "Torch: Failed to set torch state to ON: " + invalid);
    EXPECT_EQ(fatalMessage(2), "Torch: Failed to set torch state to OFF: " + invalid);
    EXPECT_EQ(fatalMessage(3), "Torch: Failed to fetch torch state: " + invalid);
    EXPECT_EQ(camera->opens, 3);

    EXPECT_EQ(fatalMessage(4), "Torch: Failed to fetch camera cover state from: " + coverPath +
                                   ": " + strerror(ENOENT));
    for (int opcode : {0, 5, -1}) EXPECT_EQ(fatalMessage(opcode), "Torch: Unknown opcode!");
}

TEST_F(TorchTest, AResultBeyondTheStackIsFatalNotAWildWrite) {
    EXPECT_THROW(call(3, VirtualMachine::kStackSlots - 1), ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrFatal);
}

} // namespace
