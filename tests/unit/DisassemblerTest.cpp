#include "Disassembler.h"
#include "Assembler.h"
#include "Opcodes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Disassembles and reassembles; empty when the bytes came back unchanged.
std::string roundTripProblem(const Bytes& bytes) {
    DisassemblyResult text = disassemble(bytes);
    if (!text.ok()) return "refused: " + text.error;
    AssemblyResult again = assemble(text.text, "disassembly.s");
    if (!again.ok()) return again.errorText() + text.text;
    if (again.bytes != bytes) return "different bytes from:\n" + text.text;
    return "";
}

// Every opcode with operands of every kind, and every table form.
std::string corpus() {
    std::string source = R"(
        .identifier "corpus\x00\x01\x02\xFF-012345678"
        .width localSlots 4
        .exports
        .export "main" code=main method=main
        .export "helper<*int>,<**string>" code=helper method=helper
        .export "dup" code=main method=main
        .virtuals
        .virtual draw "<*application>.draw to<canvas>"
        .entry type=App code=draw method=draw
        .entry type=Sub code=helper method=helper
        .virtual "(*vminternalthrow<int>,<string>"
        .virtual empty "no entries"
        .types
        .type Base
        .type App refs=[1, 2] vectors=[refs 3, 4] super=Base interfaces=[Base]
        .type Sub width=2 refs=[5] super=App
        .methods
        .method main locals=2 c=[1]
        .method helper args=2 extra=1 width=4 a=[0] b=[refs 1] c=[2] d=[3, refs 4]
        .method draw args=2
        .strings
        .string "Hello, world"
        .string "Gr\u{FC}\u{DF}e \u{1F600}"
        .string "tab\tquote\"backslash\\nul\0"
        .string "\xC3"
        .string again "Hello, world"
        .code
        main:
    )";
    for (int op = 0; op < 256; ++op) {
        const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(op));
        if (!info.isValid()) {
            source += ".bytes " + std::to_string(op) + "\n";
            continue;
        }
        source += std::string(info.mnemonic);
        for (int i = 0; i < info.operandCount; ++i) {
            source += i ? ", " : " ";
            switch (info.operands[i]) {
            case OperandKind::S16Jump:
            case OperandKind::S32Jump:
            case OperandKind::HandlerOffset: source += op % 2 ? "main" : "helper"; break;
            case OperandKind::CodeOffset: source += "draw"; break;
            case OperandKind::MethodIndex: source += "helper"; break;
            case OperandKind::NamedMethod: source += "draw"; break;
            case OperandKind::StringConst: source += "again"; break;
            case OperandKind::TypeId:
            case OperandKind::HandlerType: source += "Sub"; break;
            default: source += std::to_string(op - 128);
            }
        }
        source += "\n";
        if (op == 0x40) source += "helper:\n";
        if (op == 0x80) source += "draw:\n";
    }
    return source + "jump 0\njump_w -100\npush_handler 99, 3\ncall 1, 55\npush_string 77\n";
}

TEST(Disassembler, PrintsTheCorpusWithNamesAndReassemblesItExactly) {
    Bytes bytes = assembleOrThrow(corpus());
    ASSERT_EQ(loaderRefusal(bytes), "");
    DisassemblyResult result = disassemble(bytes);
    ASSERT_TRUE(result.ok()) << result.error;
    const char* expected[] = {
        ".export \"helper<*int>,<**string>\" code=helper_int_string method=helper_int_string",
        ".virtual application_draw_to_canvas \"<*application>.draw to<canvas>\"",
        ".entry type=type2 code=helper_int_string method=helper_int_string",
        ".type type1 refs=[1, 2] vectors=[refs 3, 4] super=type0 interfaces=[type0]",
        ".type type2 width=2 refs=[5] super=type1",
        ".method helper_int_string args=2 extra=1 locals=0 width=4 a=[0] b=[refs 1] c=[2] "
        "d=[3, refs 4]",
        ".width localSlots 4",
        ".string \"Grüße 😀\"",
        ".string s4 \"Hello, world\"",
        "push_string s4",
        "call_virtual application_draw_to_canvas",
        "\"<*application>.draw to<canvas>\"",
        "call application_draw_to_canvas, helper_int_string",
        "push_handler type2, main",
        ".bytes 0x38",
        "jump 0 ",
        "push_string 77",
    };
    for (const char* text : expected)
        EXPECT_NE(result.text.find(text), std::string::npos) << text << "\n" << result.text;
    EXPECT_EQ(roundTripProblem(bytes), "");
}

TEST(Disassembler, KeepsJumpsIntoOperandBytesAndOutsideTheCode) {
    const char* sources[] = {
        "jump 0",                     // its own last operand byte
        "push_int 5\njump -3",        // into push_int's operand
        "jump 1000\njump_w -1000",    // past both ends
        "nop\nend: jump end\njump 2", // the end of the code
        "push_handler -1, -2\nret 0, 1",
        "call 3, -1\n.bytes 0x38, 0xFF",
    };
    for (const char* source : sources) {
        Bytes bytes = assembleOrThrow(std::string(".method m\n.code\n") + source);
        EXPECT_EQ(roundTripProblem(bytes), "") << source;
    }
}

TEST(Disassembler, KeepsWidthsCountsAndFlagsTheLoaderReadsAsGiven) {
    Image image;
    image.widths = {4, 4, 4, 2, 4, 1, 2, 4, 4};
    image.virtualMethods = {{"v", {}}};
    image.counts[{Image::Virtuals, 0, Image::Count::Entries}] = -5;
    image.types = {{4, {1}, {{0xFF, 2}}, 7, 0, {}}};
    image.counts[{Image::Types, 0, Image::Count::Interfaces}] = -2;
    image.methods = {{2, 1, {}, {}, 0, 0, {}, {}}};
    image.exportedMethods = {{"m", 255, 0}};
    Bytes bytes = writeImage(image);
    ASSERT_EQ(loaderRefusal(bytes), "");
    EXPECT_EQ(writeImage(readImage(bytes)), bytes);
    EXPECT_EQ(roundTripProblem(bytes), "");
}

TEST(Disassembler, RefusesWhatTheLoaderRefusesWithItsMessageAndTheReason) {
    Bytes good = assembleOrThrow(corpus());
    struct Case {
        Bytes bytes;
        const char* reason;
    };
    Bytes width = good;
    width[23 + Image::TypeId] = 3;
    Bytes marker = good;
    marker[21] = 0xFE;
    const Case cases[] = {
        {{}, "byte 0: unexpected end of the image"},
        {width, "byte 25: type id width is 3, not 1, 2 or 4"},
        {marker, "byte 21: width header marker byte is 0xFE, not 0xFF"},
        {Bytes(good.begin(), good.end() - 1), "cut short by the end"},
        {assembleOrThrow("call_virtual 0"), "names virtual method 0 of 0"},
        {assembleOrThrow(".type vectors=[flag 2 1]"), "flag byte is 0x02, not 0 or 0xFF"},
        {assembleOrThrow(".strings count=-1"), "string count is negative (-1)"},
    };
    for (const Case& c : cases) {
        DisassemblyResult result = disassemble(c.bytes);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error.rfind("Error while reading bytecode", 0), 0u) << result.error;
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
        EXPECT_TRUE(result.text.empty());
    }
}

// ---- generated images -------------------------------------------------------------------

// Random images that the loader accepts, with widths given or left to the writer.
class ImageGenerator {
public:
    explicit ImageGenerator(unsigned seed) : random(seed) {}

    Image next() {
        Image image;
        for (auto& b : image.identifier) b = byte();
        for (int i = 0; i < Image::kWidthCount; ++i)
            if (chance(2)) image.widths[i] = std::array<std::uint8_t, 3>{1, 2, 4}[below(3)];
        widths = image.widths;
        for (int n = below(4); n > 0; --n)
            image.exportedMethods.push_back(
                {name(), value(Image::CodeOffset), value(Image::MethodIndex)});
        for (int n = below(4); n > 0; --n) image.virtualMethods.push_back(virtualMethod(image));
        for (int n = below(4); n > 0; --n) image.types.push_back(type(image));
        for (int n = below(4); n > 0; --n) image.methods.push_back(method());
        for (int n = below(5); n > 0; --n) image.strings.push_back(name());
        image.code = code(image);
        return image;
    }

private:
    Image::VirtualMethod virtualMethod(Image& image) {
        Image::VirtualMethod m{name(), {}};
        int record = static_cast<int>(image.virtualMethods.size());
        if (fitsNegative(Image::EntryCount) && chance(6)) {
            image.counts[{Image::Virtuals, record, Image::Count::Entries}] = -1 - below(9);
            return m;
        }
        for (int n = below(3); n > 0; --n)
            m.entries.push_back(
                {typeId(), value(Image::CodeOffset), value(Image::MethodIndex)});
        return m;
    }

    Image::Type type(Image& image) {
        Image::Type t;
        t.elementWidth = static_cast<std::uint8_t>(std::array<int, 4>{0, 1, 2, 4}[below(4)]);
        t.refOffsets = offsets(t.elementWidth);
        t.flaggedOffsets = flaggedOffsets(t.elementWidth);
        t.superFlag = chance(2) ? 0 : value(Image::SuperFlag);
        if (t.superFlag != 0) t.superType = typeId();
        int record = static_cast<int>(image.types.size());
        if (fitsNegative(Image::InterfaceCount) && chance(6))
            image.counts[{Image::Types, record, Image::Count::Interfaces}] = -3;
        else
            for (int n = below(3); n > 0; --n) t.interfaces.push_back(value(Image::TypeId));
        return t;
    }

    Image::MethodInfo method() {
        Image::MethodInfo m;
        m.elementWidth = static_cast<std::uint8_t>(std::array<int, 4>{0, 1, 2, 4}[below(4)]);
        m.argSlots = value(Image::ArgSlots);
        m.extraSlots = value(Image::ExtraSlots);
        m.localSlots = value(Image::LocalSlots);
        m.offsetsA = offsets(m.elementWidth);
        m.offsetsB = flaggedOffsets(m.elementWidth);
        m.offsetsC = offsets(m.elementWidth);
        m.offsetsD = flaggedOffsets(m.elementWidth);
        return m;
    }

    // Instructions of every kind, unknown opcodes, and jumps to random places.
    Bytes code(const Image& image) {
        Bytes bytes;
        for (int n = below(40); n > 0; --n) {
            auto op = static_cast<std::uint8_t>(below(256));
            const OpcodeInfo& info = opcodeInfo(op);
            if (op == static_cast<int>(Opcode::call_virtual) && image.virtualMethods.empty())
                continue;
            bytes.push_back(op);
            for (int i = 0; i < info.operandCount; ++i) {
                std::int32_t v = number(1 << 20);
                if (info.operands[i] == OperandKind::NamedMethod)
                    v = below(static_cast<int>(image.virtualMethods.size()));
                else if (chance(2))
                    v = below(60) - 20;
                for (int b = 0; b < operandSize(info.operands[i]); ++b)
                    bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
            }
        }
        return bytes;
    }

    std::vector<std::int32_t> offsets(int elementWidth) {
        std::vector<std::int32_t> values;
        for (int n = below(4); n > 0; --n) values.push_back(fitting(elementWidth));
        return values;
    }

    std::vector<Image::Flagged> flaggedOffsets(int elementWidth) {
        std::vector<Image::Flagged> values;
        for (int n = below(3); n > 0; --n)
            values.push_back(
                {chance(2) ? std::uint8_t(0) : std::uint8_t(0xFF), fitting(elementWidth)});
        return values;
    }

    std::int32_t value(Image::Width role) { return fitting(widths[role] ? *widths[role] : 0); }

    // The loader refuses type ids of 2^24 and more.
    std::int32_t typeId() { return value(Image::TypeId) % (1 << 23); }

    bool fitsNegative(Image::Width role) const { return !widths[role] || *widths[role] == 4; }

    // A value that a field of this width holds; width 0 is left to the writer.
    std::int32_t fitting(int width) {
        switch (width) {
        case 1: return below(256);
        case 2: return chance(2) ? below(256) : below(65536);
        default: return chance(3) ? number(1 << 30) : below(300);
        }
    }

    std::string name() {
        static const char pieces[][8] = {"<",  "*",        "**",   ">",  ".",    "a", " ",   "\"",
                                         "\\", "\xC3\xA9", "\xFF", "\n", "\x01", "(", "main"};
        std::string s;
        for (int n = below(6); n > 0; --n) s += pieces[below(15)];
        return s;
    }

    std::int32_t number(int scale) {
        return static_cast<std::int32_t>(random()) % scale * (chance(2) ? 1 : -1);
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(random()); }
    int below(int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }
    bool chance(int n) { return below(n) == 0; }

    std::mt19937 random;
    std::array<std::optional<std::uint8_t>, Image::kWidthCount> widths;
};

TEST(Disassembler, RoundTripsRandomImagesTheLoaderAccepts) {
    ImageGenerator generator(2024);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes = writeImage(generator.next());
        ASSERT_EQ(loaderRefusal(bytes), "") << round;
        EXPECT_EQ(writeImage(readImage(bytes)), bytes) << round;
        std::string problem = roundTripProblem(bytes);
        ASSERT_EQ(problem, "") << round;
    }
}

TEST(Disassembler, PrintsImageModelsWithEscapeHatchesAsSourceOfTheSameBytes) {
    ImageGenerator generator(77);
    std::mt19937 random(5);
    for (int round = 0; round < 100; ++round) {
        Image image = generator.next();
        auto table = static_cast<Image::Table>(random() % Image::kTableCount);
        image.raw[{table, static_cast<int>(random() % 3) - 1}] = {0xAB, 0x00};
        image.counts[{table, -1, Image::Count::Records}] = static_cast<std::int32_t>(random());
        if (!image.types.empty()) image.counts[{Image::Types, 0, Image::Count::ListB}] = -9;
        image.identifierLength = 3;
        image.marker = {0x12, 0xFF};
        std::string text = disassembleImage(image);
        AssemblyResult again = assemble(text);
        ASSERT_TRUE(again.ok()) << again.errorText() << text;
        EXPECT_EQ(again.bytes, writeImage(image)) << text;
    }
}

TEST(Disassembler, NeverCrashesAndRoundTripsEveryMutationTheLoaderAccepts) {
    const Bytes good = assembleOrThrow(corpus());
    std::mt19937 random(4321);
    int accepted = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = good;
        for (int edits = 1 + random() % 4; edits > 0 && !bytes.empty(); --edits) {
            std::size_t at = random() % bytes.size();
            switch (random() % 3) {
            case 0: bytes[at] = static_cast<std::uint8_t>(random()); break;
            case 1: bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at)); break;
            default: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), random() & 0xFF);
            }
        }
        DisassemblyResult result = disassemble(bytes);
        if (!result.ok()) {
            EXPECT_EQ(result.error.rfind("Error while reading bytecode", 0), 0u) << result.error;
            continue;
        }
        ++accepted;
        EXPECT_EQ(roundTripProblem(bytes), "") << round;
    }
    EXPECT_GT(accepted, 20);
}

} // namespace
