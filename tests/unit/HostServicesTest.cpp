#include "HostServices.h"

#include "EventLoop.h"
#include "Scheduler.h"
#include "Timer.h"
#include "VirtualMachine.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The host services as a concrete class: the parts every front end adds do nothing here.
class TestServices : public HostServices {
public:
    using HostServices::HostServices;
    void repaintRect(int, int, int, int) override {}
    void exitApplication() override {}
    TInt32 callDll(int, int, TInt32 sp, Address) override { return sp; }
};

class HostServicesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    VirtualMachine vm;
    EventLoop loop;
    Scheduler scheduler{loop};
    TestServices services{CAppsString(temporary.path().toStdString()), scheduler};

    void SetUp() override { scheduler.setMachine(&vm); }
};

TEST_F(HostServicesTest, ScreenSizeFollowsTheOrientationAlone) {
    int width = 0, height = 0;
    EXPECT_EQ(services.getOrientation(), 2);
    services.getScreenSize(width, height);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 480);
    services.setOrientation(1);
    services.getScreenSize(width, height);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 800);
    services.setOrientation(7); // anything but 2 is portrait
    services.getScreenSize(width, height);
    EXPECT_EQ(width, 480);
}

TEST_F(HostServicesTest, LogWritesTheLowByteOfEveryCharacter) {
    const TUint16 units[] = {'a', 0x20AC, 0x00E9, 'z'};
    testing::internal::CaptureStderr();
    services.log(CAppsString(units, 4));
    services.log(CAppsString(""));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LOG: a\xAC\xE9z\nLOG: \n");
    EXPECT_FALSE(services.setLogFile("a|b"));
    EXPECT_TRUE(services.setLogFile(""));
}

TEST_F(HostServicesTest, TimersTakeIncreasingIdsAndAnswerUnknownIdsQuietly) {
    const int first = services.addTimer(0x10000, 1000);
    const int second = services.addTimer(0x20000, -5);
    EXPECT_GE(first, 10);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(scheduler.timerCount(), 2);

    EXPECT_TRUE(services.updateTimerDelay(first, 5000));
    EXPECT_TRUE(services.updateTimerDelay(9999, 5));
    EXPECT_EQ(services.removeTimer(9999), 0u);
    EXPECT_EQ(services.removeTimer(first), 0x10000u);
    EXPECT_EQ(services.removeTimer(first), 0u);
    EXPECT_EQ(scheduler.find(first), nullptr);
    ASSERT_NE(scheduler.find(second), nullptr);
    EXPECT_EQ(scheduler.find(second)->listener(), 0x20000u);

    EXPECT_EQ(services.addTimer(0x30000, 0), second + 1);
    EXPECT_EQ(scheduler.timerCount(), 2);
}

TEST_F(HostServicesTest, FixedAnswersOfThisPlatform) {
    EXPECT_EQ(services.pathSeparator().toUtf8(), "/");
    EXPECT_EQ(services.platformName().toUtf8(), "maemo");
    EXPECT_EQ(services.applicationDirectory().toUtf8(), temporary.path().toStdString());
    EXPECT_EQ(services.systemQueryA() + services.systemQueryB() + services.reservedQueryA() +
                  services.reservedQueryB() + services.reservedQueryC() +
                  services.systemRequest("x") + services.fileServiceReserved(),
              0);
    EXPECT_LT(services.elapsedMillis(), 60000u);
    EXPECT_GT(services.currentTimeMillis(), 1600000000000u); // after September 2020
}

} // namespace
