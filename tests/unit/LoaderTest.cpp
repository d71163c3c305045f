#include "AppsFileIO.h"
#include "Image.h"
#include "VirtualMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

Image sampleImage() {
    Image image;
    image.identifier[0] = 'A';
    image.exportedMethods = {{"main", 0, 0}, {"helper<int*>", 7, 1}};
    image.virtualMethods = {{"<application>.draw to<canvas>", {{0, 7, 1}, {1, 12, 1}}}};
    image.types = {{0, {1, 2}, {{0xFF, 3}}, 0, 0, {}}, {0, {1}, {}, 1, 0, {0}}};
    image.methods = {{0, 1, {0}, {{0, 1}}, 0, 2, {3}, {{0xFF, 4}}}, {0, 2, {}, {}, 1, 0, {}, {}}};
    image.strings = {"Hello", "Gr\xC3\xBC\xC3\x9F"
                              "e"};
    image.code = {0x0E, 7,    0,    0,    0,    1, 0, 0, 0, // call 7, method 1
                  0x15, 1,    0,    0,    0,                // push_string 1
                  0x0F, 0,    0,    0,    0,                // call_virtual map[0]
                  0x16, 1,    0,    0,    0,                // store_type 1
                  0x75, 0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0, // push_handler -1, +5
                  0x38, 0x0C, 0xFD, 0xFF};                  // invalid opcode, jump -3
    return image;
}

void setBuffer(ZARNOK::MemoryInputStream& stream, const std::vector<std::uint8_t>& bytes) {
    static const std::uint8_t nothing = 0;
    stream.setBuffer(bytes.empty() ? &nothing : bytes.data(), static_cast<TUint32>(bytes.size()));
}

// The load steps alone, without running main: the image index, -1 when refused.
TInt32 load(VirtualMachine& vm, const std::vector<std::uint8_t>& bytes,
            const char* name = "index.mcb") {
    ZARNOK::MemoryInputStream stream;
    setBuffer(stream, bytes);
    clearLastError();
    try {
        return vm.loadImage(stream, name);
    } catch (const ErrorHandlingException&) {
        return -1;
    }
}

std::vector<std::int32_t> int32sAt(const VirtualMachine& vm, int offset, int count) {
    std::vector<std::int32_t> values;
    for (int i = 0; i < count; ++i) {
        std::uint32_t v = 0;
        for (int b = 0; b < 4; ++b)
            v |= std::uint32_t(static_cast<std::uint8_t>(vm.code[offset + 4 * i + b])) << (8 * b);
        values.push_back(static_cast<std::int32_t>(v));
    }
    return values;
}

TEST(Loader, FillsEveryTable) {
    VirtualMachine vm;
    ASSERT_EQ(load(vm, writeImage(sampleImage())), 0);

    ASSERT_EQ(vm.exportedMethods.size(), 3);
    EXPECT_EQ(vm.exportedMethods[1].name, "helper<int*>");
    EXPECT_EQ(vm.exportedMethods[1].entries[0].codeOffset, 7);
    EXPECT_EQ(vm.exportedMethods[1].entries[0].typeId, -1);
    EXPECT_EQ(vm.exportedMethods[2].isVirtual, 1);
    EXPECT_EQ(vm.exportedMethods[2].imageIndex, 0);
    EXPECT_EQ(vm.exportedMethods[2].entries[1].typeId, 2); // type base 1
    EXPECT_EQ(vm.maxTypeId, 2);

    ASSERT_EQ(vm.superTypes.size(), 3);
    EXPECT_EQ(vm.superTypes[0], -2);
    EXPECT_EQ(vm.superTypes[1], -1);
    EXPECT_EQ(vm.superTypes[2], 1);
    EXPECT_EQ(vm.typeRefOffsets[1], (Vec<int>{1, 2}));
    EXPECT_EQ(vm.typeFlaggedOffsets[1], (Vec<int>{3}));
    EXPECT_EQ(vm.typeOffsetFlags[1], (Vec<char>{char(0xFF)}));

    ASSERT_EQ(vm.methodGCInfos.size(), 2);
    const auto& m = vm.methodGCInfos[0];
    EXPECT_EQ(m.argSlots, 1);
    EXPECT_EQ(m.localSlots, 2);
    EXPECT_EQ(m.offsetsB, (Vec<int>{1}));
    EXPECT_EQ(m.flagsD, (Vec<char>{char(0xFF)}));
    EXPECT_EQ(vm.methodGCInfos[1].extraSlots, 1);

    ASSERT_EQ(vm.stringConstants.size(), 2);
    EXPECT_EQ(vm.stringConstants[1].toCAppsString(), CAppsString::fromUtf8("Grüße"));
    EXPECT_EQ(vm.images[0].codeSize, static_cast<TInt32>(sampleImage().code.size()));
    EXPECT_EQ(vm.code.size(), vm.images[0].codeSize);
}

TEST(Loader, CopiesUnknownOpcodesWithoutOperands) {
    VirtualMachine vm;
    ASSERT_EQ(load(vm, writeImage(sampleImage())), 0);
    EXPECT_EQ(vm.code[33], 0x38);
    EXPECT_EQ(vm.code[34], 0x0C);
    EXPECT_EQ(vm.code[35], static_cast<signed char>(0xFD));
}

TEST(Loader, RelocatesASecondImageOnTheBasesOfTheFirst) {
    VirtualMachine vm;
    ASSERT_EQ(load(vm, writeImage(sampleImage())), 0);
    Image second = sampleImage();
    second.identifier[0] = 'B';
    ASSERT_EQ(load(vm, writeImage(second)), 1);

    const int base = vm.images[1].codeBase;
    EXPECT_EQ(base, 37);
    EXPECT_EQ(int32sAt(vm, base + 1, 2), (std::vector<std::int32_t>{7 + base, 1 + 2}));
    EXPECT_EQ(int32sAt(vm, base + 10, 1)[0], 1 + 2); // string base 2
    EXPECT_EQ(int32sAt(vm, base + 15, 1)[0], 2);     // the existing virtual method
    EXPECT_EQ(int32sAt(vm, base + 20, 1)[0], 1 + 3); // type base = maxTypeId 2 + 1
    EXPECT_EQ(int32sAt(vm, base + 25, 2), (std::vector<std::int32_t>{-1, 5 + base}));
    EXPECT_EQ(vm.maxTypeId, 4);
    // Virtual entries of the second image joined the first record of that name.
    EXPECT_EQ(vm.exportedMethods[2].entries.size(), 4);
    EXPECT_EQ(vm.exportedMethods.size(), 5);
}

TEST(Loader, ReturnsTheLoadedImageForTheSameIdentifierAndName) {
    VirtualMachine vm;
    auto bytes = writeImage(sampleImage());
    ASSERT_EQ(load(vm, bytes), 0);
    EXPECT_EQ(load(vm, bytes), 0);
    EXPECT_EQ(vm.images.size(), 1);
    EXPECT_EQ(load(vm, bytes, "other.mcb"), 1);
}

TEST(Loader, AcceptsAnImageOfEmptyTables) {
    VirtualMachine vm;
    Image empty;
    ASSERT_EQ(load(vm, writeImage(empty)), 0);
    EXPECT_EQ(vm.images[0].codeSize, 0);
    EXPECT_EQ(vm.exportedMethods.size(), 0);
}

TEST(Loader, ReadsNarrowWidthsUnsignedAndWideOnesSigned) {
    Image image;
    image.exportedMethods = {{"a", 0, 255}, {"b", 0, 300}};
    auto bytes = writeImage(image);
    EXPECT_EQ(bytes[24], 2) << "method index 300 needs width 2";
    VirtualMachine vm;
    ASSERT_EQ(load(vm, bytes), 0);
    EXPECT_EQ(vm.exportedMethods[0].entries[0].methodIndex, 255);
    EXPECT_EQ(vm.exportedMethods[1].entries[0].methodIndex, 300);

    image.exportedMethods = {{"a", 0, 255}};
    image.widths[Image::MethodIndex] = 1;
    VirtualMachine narrow;
    ASSERT_EQ(load(narrow, writeImage(image)), 0);
    EXPECT_EQ(narrow.exportedMethods[0].entries[0].methodIndex, 255);
}

TEST(Loader, KeepsNegativeCallMethodIndexes) {
    Image image;
    image.methods.resize(1);
    image.code = {0x0E, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    VirtualMachine vm;
    ASSERT_EQ(load(vm, writeImage(sampleImage())), 0);
    image.identifier[0] = 'Z';
    ASSERT_EQ(load(vm, writeImage(image)), 1);
    EXPECT_EQ(int32sAt(vm, vm.images[1].codeBase + 5, 1)[0], -1);
}

TEST(Loader, DecodesStringConstantsWithoutReadingPastTheRecord) {
    Image image;
    image.strings = {"\xF0\x9F\x98\x80", "ab\xE2\x82", "\x80\x41", "x\xC3"};
    VirtualMachine vm;
    ASSERT_EQ(load(vm, writeImage(image)), 0);
    EXPECT_EQ(vm.stringConstants[0].length(), 1);
    EXPECT_EQ(vm.stringConstants[0].at(0), 0xF600);
    EXPECT_EQ(vm.stringConstants[1].length(), 3);
    EXPECT_EQ(vm.stringConstants[1].at(2), 0xFFFD);
    EXPECT_EQ(vm.stringConstants[2].length(), 1); // a continuation byte leads a pair
    EXPECT_EQ(vm.stringConstants[2].at(0), 0x01);
    EXPECT_EQ(vm.stringConstants[3].length(), 2);
}

void expectRefused(const std::vector<std::uint8_t>& bytes) {
    VirtualMachine vm;
    EXPECT_EQ(load(vm, bytes), -1);
}

// The reason the loader gives for refusing the image; empty when it accepts it.
std::string refusal(const std::vector<std::uint8_t>& bytes) {
    VirtualMachine vm;
    ZARNOK::MemoryInputStream stream;
    setBuffer(stream, bytes);
    std::string reason;
    return vm.loadImage(stream, "index.mcb", &reason) < 0 ? reason : "accepted";
}

// The load entry turns every refusal into the fatal error, whose recorded text has no detail;
// the machine's explanation has the loader's reason.
TEST(Loader, EntryReportsARefusedImageAsTheFatalError) {
    auto bytes = writeImage(sampleImage());
    bytes[0] = 19;
    VirtualMachine vm;
    ZARNOK::MemoryInputStream stream;
    setBuffer(stream, bytes);
    clearLastError();
    EXPECT_THROW(vm.load(stream, "index.mcb", nullptr), ErrorHandlingException);
    EXPECT_EQ(lastErrorCode(), KErrFatal);
    EXPECT_EQ(lastErrorText(), "UnknownException (CODE:11)");
    EXPECT_EQ(vm.explanation(),
              "Error while reading bytecode: byte 0: identifier length is 19, not 20");
}

TEST(Loader, SaysWhyItRefusesAnImage) {
    const auto good = writeImage(sampleImage());
    const size_t codeStart = good.size() - sampleImage().code.size();
    auto edited = [&](size_t at, std::uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    auto with = [](auto change) {
        Image image = sampleImage();
        change(image);
        return writeImage(image);
    };
    const struct {
        std::vector<std::uint8_t> bytes;
        std::string reason;
    } cases[] = {
        {edited(0, 19), "byte 0: identifier length is 19, not 20"},
        {edited(21, 0xFE), "byte 21: width header marker byte is 0xFE, not 0xFF"},
        {edited(23 + 4, 3), "byte 27: interface count width is 3, not 1, 2 or 4"},
        {with([](Image& i) { i.types[0].flaggedOffsets[0].flag = 0x7F; }),
         "flag byte is 0x7F, not 0 or 0xFF"},
        {with([](Image& i) { i.methods[0].elementWidth = 3; }),
         "element width is 3, not 1, 2 or 4"},
        {with([](Image& i) {
             i.code = {0x0F, 1, 0, 0, 0};
         }),
         "call_virtual at code offset 0 names virtual method 1 of 1"},
        {with([](Image& i) {
             i.counts[{Image::Strings, -1, Image::Count::Records}] = -2;
         }),
         "string count is negative (-2)"},
        {std::vector<std::uint8_t>(good.begin(), good.begin() + 40),
         "byte 40: unexpected end of the image"},
        {std::vector<std::uint8_t>(good.begin(), good.begin() + codeStart + 3),
         "byte " + std::to_string(codeStart) + ": call at code offset 0 is cut short by the end"},
        {{}, "byte 0: unexpected end of the image"},
    };
    for (const auto& c : cases) {
        const std::string reason = refusal(c.bytes);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason << "\nwanted: " << c.reason;
        EXPECT_EQ(reason.rfind("byte ", 0), 0u) << reason;
    }
}

// Indexes near the int32 limit, read from the image and added to the table bases of a first
// image (code 37 bytes, 2 methods, 2 strings, highest type id 2), fail the load instead of
// wrapping; type ids also fail beyond the per-type tables' limit of 2^24.
TEST(Loader, RefusesIndexesThatOverflowTheirBase) {
    constexpr std::int32_t kMax = 0x7FFFFFFF;
    constexpr std::uint8_t kMaxBytes[] = {0xFF, 0xFF, 0xFF, 0x7F};
    auto withOperands = [&](std::uint8_t opcode, int maxAt, int operands) {
        Image image;
        image.code = {opcode};
        for (int i = 0; i < operands; ++i)
            for (int b = 0; b < 4; ++b) image.code.push_back(i == maxAt ? kMaxBytes[b] : 0);
        return image;
    };
    struct Case {
        const char* reason; // how the refusal begins after "byte N: "
        Image image;
    };
    std::vector<Case> cases;
    Image image;
    image.types = {{0, {}, {}, 1, kMax, {}}};
    cases.push_back({"super type 2147483647 plus its base 3 is beyond the int32 range", image});
    image.types = {{0, {}, {}, 1, 1 << 24, {}}};
    cases.push_back({"super type 16777219 is beyond 16777216", image});
    image = {};
    image.virtualMethods = {{"v", {{kMax, 0, 0}}}};
    cases.push_back({"type id 2147483647 plus its base 3", image});
    image.virtualMethods = {{"v", {{0, kMax, 0}}}};
    cases.push_back({"code offset 2147483647 plus its base 37", image});
    image.virtualMethods = {{"v", {{0, 0, kMax}}}};
    cases.push_back({"method index 2147483647 plus its base 2", image});
    image = {};
    image.exportedMethods = {{"e", kMax, 0}};
    cases.push_back({"code offset 2147483647 plus its base 37", image});
    image.exportedMethods = {{"e", 0, kMax}};
    cases.push_back({"method index 2147483647 plus its base 2", image});
    cases.push_back({"code offset 2147483647 plus its base 37", withOperands(0x0E, 0, 2)});
    cases.push_back({"method index 2147483647 plus its base 2", withOperands(0x0E, 1, 2)});
    cases.push_back({"string number 2147483647 plus its base 2", withOperands(0x15, 0, 1)});
    cases.push_back({"type id 2147483647 plus its base 3", withOperands(0x16, 0, 1)});
    cases.push_back({"handler type 2147483647 plus its base 3", withOperands(0x75, 0, 2)});
    cases.push_back({"code offset 2147483647 plus its base 37", withOperands(0x75, 1, 2)});

    for (Case& c : cases) {
        VirtualMachine vm;
        ASSERT_EQ(load(vm, writeImage(sampleImage())), 0);
        c.image.identifier[0] = 'O';
        ZARNOK::MemoryInputStream stream;
        const auto bytes = writeImage(c.image);
        setBuffer(stream, bytes);
        std::string reason;
        EXPECT_EQ(vm.loadImage(stream, "index.mcb", &reason), -1) << c.reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_LE(vm.maxTypeId, 2) << c.reason;
    }
}

// Images on which the image fuzz target once found a fault, with the refusal each must get.
TEST(Loader, RefusesTheFuzzFindings) {
    const struct {
        const char* file;
        const char* reason;
    } findings[] = {
        {"loader-supertype-overflow.mcb",
         "byte 187: super type 2147483647 plus its base 1 is beyond the int32 range"},
    };
    for (const auto& finding : findings) {
        std::ifstream in(std::filesystem::path(ZENTU_SOURCE_DIR) / "tests/regressions/image" /
                             finding.file,
                         std::ios::binary);
        ASSERT_TRUE(in) << finding.file;
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        VirtualMachine vm;
        ZARNOK::MemoryInputStream stream;
        setBuffer(stream, bytes);
        std::string reason;
        EXPECT_EQ(vm.loadImage(stream, "index.mcb", &reason), -1) << finding.file;
        EXPECT_EQ(reason, finding.reason) << finding.file;
    }
}

TEST(Loader, AcceptsTypeIdsUpToTheTypeLimit) {
    Image image;
    image.types = {{0, {}, {}, 1, (1 << 24) - 1, {}}};
    image.virtualMethods = {{"v", {{(1 << 24) - 1, 0, 0}}}};
    VirtualMachine vm;
    ASSERT_EQ(load(vm, writeImage(image)), 0);
    EXPECT_EQ(vm.superTypes[1], 1 << 24);
    EXPECT_EQ(vm.maxTypeId, 1 << 24);
}

TEST(Loader, RefusesEveryTruncationOfTheTables) {
    const auto good = writeImage(sampleImage());
    const size_t codeStart = good.size() - sampleImage().code.size();
    for (size_t length = 0; length < codeStart; ++length)
        expectRefused(std::vector<std::uint8_t>(good.begin(), good.begin() + length));
    // Inside the code only an instruction cut in its operands is a short read.
    expectRefused(std::vector<std::uint8_t>(good.begin(), good.begin() + codeStart + 3));
}

TEST(Loader, SurvivesRandomMutations) {
    const auto good = writeImage(sampleImage());
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        auto bytes = good;
        int edits = 1 + random() % 6;
        for (int e = 0; e < edits; ++e) {
            size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0: bytes[at] = static_cast<std::uint8_t>(random()); break;
            case 1: bytes[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
            case 2: bytes.resize(at); break;
            default: bytes.insert(bytes.begin() + at, static_cast<std::uint8_t>(random()));
            }
            if (bytes.empty()) break;
        }
        VirtualMachine vm;
        const TInt32 index = load(vm, bytes);
        EXPECT_TRUE(index == 0 || index == -1);
    }
}

TEST(Loader, SurvivesRandomBytes) {
    std::mt19937 random(99);
    for (int round = 0; round < 500; ++round) {
        std::vector<std::uint8_t> bytes(random() % 200);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        if (!bytes.empty() && random() % 2) bytes[0] = 20;
        VirtualMachine vm;
        load(vm, bytes);
    }
}

} // namespace
