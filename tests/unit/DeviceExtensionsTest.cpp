#include "DeviceExtensions.h"

#include "ErrorHandling.h"
#include "ORaw.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class FakeFiles : public DeviceFiles {
public:
    std::map<std::string, std::string> contents;
    int reads = 0;
    bool readText(const std::string& path, std::string& text) override {
        ++reads;
        const auto found = contents.find(path);
        if (found == contents.end()) return false;
        text = found->second;
        return true;
    }
};

struct Fixture : ::testing::Test {
    VirtualMachine vm;
    std::shared_ptr<FakeFiles> files = std::make_shared<FakeFiles>();
    DeviceExtensions extensions{vm, files};

    TInt64 fixedAt(TInt32 index) {
        return TInt64(TUint64(TUint32(vm.slot(index + 1))) << 32 | TUint32(vm.slot(index)));
    }
    void expectRaises(int extension, int function, TInt32 code, const char* text) {
        EXPECT_THROW(extensions.call(extension, function, 4, vm.stackBase()),
                     ErrorHandlingException);
        EXPECT_EQ(lastErrorCode(), code);
        EXPECT_NE(lastErrorText().toUtf8().find(text), std::string::npos)
            << lastErrorText().toUtf8();
    }
};

using DeviceExtensionsTest = Fixture;

TEST_F(DeviceExtensionsTest, UnknownExtensionsRaiseDllNotSupportedAndLeaveTheStack) {
    for (TInt32 i = 0; i < 8; ++i) vm.setSlot(i, 100 + i);
    for (int id : {0, 21, 19, 99, -1}) expectRaises(id, 11, KErrVM, "Dll not supported");
    for (TInt32 i = 0; i < 8; ++i) EXPECT_EQ(vm.slot(i), 100 + i);
}

TEST_F(DeviceExtensionsTest, AccelerometerReadsEachAxisScaledWithXSecond) {
    files->contents[Accelerometer::kCoordinatePath] = "-18 980 -36\n";
    const struct {
        int opcode;
        double expected;
    } cases[] = {{11, 0.98}, {12, -0.018}, {13, -0.036}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opcode);
        EXPECT_EQ(extensions.call(20, c.opcode, 3, vm.stackBase()), 4);
        EXPECT_NEAR(ORaw::toReal(fixedAt(3)), c.expected, 1e-6);
    }
    EXPECT_EQ(files->reads, 3); // no caching: every call reads the device
}

TEST_F(DeviceExtensionsTest, AccelerometerReadsHexadecimalAndOctalAsTheDriverMayWrite) {
    files->contents[Accelerometer::kCoordinatePath] = "0x10 010 5";
    extensions.call(20, 11, 0, vm.stackBase());
    EXPECT_NEAR(ORaw::toReal(fixedAt(0)), 0.008, 1e-6);
    extensions.call(20, 12, 0, vm.stackBase());
    EXPECT_NEAR(ORaw::toReal(fixedAt(0)), 0.016, 1e-6);
}

TEST_F(DeviceExtensionsTest, AccelerometerWithoutAReadableSampleReportsRest) {
    const char* malformed[] = {nullptr, "", "12 34", "a b c", "1 2 x"};
    for (const char* text : malformed) {
        SCOPED_TRACE(text ? text : "(missing)");
        files->contents.clear();
        if (text) files->contents[Accelerometer::kCoordinatePath] = text;
        for (int opcode : {11, 12, 13}) {
            vm.setSlot(5, -1);
            vm.setSlot(6, -1);
            EXPECT_EQ(extensions.call(20, opcode, 5, vm.stackBase()), 6);
            EXPECT_EQ(fixedAt(5), 0);
        }
    }
}

TEST_F(DeviceExtensionsTest, AccelerometerUnknownOpcodeIsFatal) {
    files->contents[Accelerometer::kCoordinatePath] = "1 2 3";
    for (int opcode : {0, 10, 14}) expectRaises(20, opcode, KErrFatal, "");
}

TEST_F(DeviceExtensionsTest, AccelerometerResultBeyondTheStackIsFatalNotAWildWrite) {
    files->contents[Accelerometer::kCoordinatePath] = "1 2 3";
    EXPECT_THROW(extensions.call(20, 11, VirtualMachine::kStackSlots - 1, vm.stackBase()),
                 ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrFatal);
}

} // namespace
