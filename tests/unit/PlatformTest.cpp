#include "DeviceExtensions.h"

#include "ErrorHandling.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Starts a program with its standard output in a file; stopped when destroyed.
struct Process {
    pid_t pid = -1;
    Process(std::vector<std::string> args, const std::string& output) {
        pid = fork();
        if (pid == 0) {
            FILE* out = std::freopen(output.c_str(), "w", stdout);
            if (!out) _exit(127);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Process() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitFor(const std::string& path, const std::string& text) {
    for (int i = 0; i < 200; ++i) {
        if (contents(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// A private session bus; the signal goes to the bus dbus-send picks by default.
struct PlatformTest : ::testing::Test {
    std::string dir = ::testing::TempDir() + "zentu-platform-" + std::to_string(getpid());
    std::unique_ptr<Process> daemon, monitor;
    VirtualMachine vm;
    DeviceExtensions extensions{vm};

    void SetUp() override {
        ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
        const std::string address = "unix:path=" + dir + "/bus";
        daemon = std::make_unique<Process>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nosyslog",
                                     "--address=" + address, "--print-address=1"},
            dir + "/daemon.out");
        ASSERT_TRUE(waitFor(dir + "/daemon.out", "unix:")) << "dbus-daemon did not start";
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        monitor = std::make_unique<Process>(
            std::vector<std::string>{"dbus-monitor", "--session", "--monitor"},
            dir + "/monitor.out");
        // The monitor's own name change shows it is listening.
        ASSERT_TRUE(waitFor(dir + "/monitor.out", "NameAcquired") ||
                    waitFor(dir + "/monitor.out", "signal"))
            << contents(dir + "/monitor.out");
    }
    void TearDown() override {
        monitor.reset();
        daemon.reset();
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        [[maybe_unused]] int status = std::system(("rm -rf " + dir).c_str());
    }
};

TEST_F(PlatformTest, ExitAppViewSignalReachesTheBus) {
    vm.setSlot(3, 9);
    EXPECT_EQ(extensions.call(DeviceExtensions::kPlatform, 1, 3, vm.stackBase()), 3);
    EXPECT_EQ(vm.slot(3), 9);
    const std::string log = dir + "/monitor.out";
    ASSERT_TRUE(waitFor(log, "member=exit_app_view")) << contents(log);
    const std::string text = contents(log);
    EXPECT_NE(text.find("signal"), std::string::npos);
    EXPECT_NE(text.find("path=/lofasz; interface=com.nokia.hildon_desktop; member=exit_app_view"),
              std::string::npos)
        << text;
}

TEST_F(PlatformTest, WithoutAListeningDesktopTheApplicationCarriesOn) {
    monitor.reset();
    daemon.reset();
    EXPECT_EQ(extensions.call(DeviceExtensions::kPlatform, 1, 3, vm.stackBase()), 3);
}

TEST_F(PlatformTest, UnknownOpcodesAreFatal) {
    for (int opcode : {0, 2, -1}) {
        EXPECT_THROW(extensions.call(DeviceExtensions::kPlatform, opcode, 3, vm.stackBase()),
                     ErrorHandlingException);
        EXPECT_EQ(lastErrorCode(), KErrFatal);
        EXPECT_EQ(vm.explanation(), "Maemo: Unknown opcode!");
    }
}

} // namespace
