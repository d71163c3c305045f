#include "Assembler.h"
#include "AppsFileIO.h"
#include "AsmSyntax.h"
#include "Disassembler.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

using Bytes = std::vector<std::uint8_t>;

Image assembledImage(const std::string& source) {
    std::vector<AssemblyError> errors;
    std::optional<Image> image = assembleImage(source, "test.s", errors);
    for (const auto& e : errors) ADD_FAILURE() << e.toString();
    return image.value_or(Image{});
}

// The code bytes of a source made only of instructions and labels.
Bytes code(const std::string& source) {
    return assembledImage(".methods\n.method m\n.method n\n.types\n.type T\n.type U\n"
                          ".virtuals\n.virtual v \"v\"\n.virtual w \"w\"\n.code\n" +
                          source)
        .code;
}

// Assembles, disassembles and reassembles: the bytes must not change.
void expectRoundTrip(const Bytes& bytes) {
    DisassemblyResult text = disassemble(bytes);
    ASSERT_TRUE(text.ok()) << text.error;
    AssemblyResult again = assemble(text.text, "disassembly.s");
    ASSERT_TRUE(again.ok()) << again.errorText() << "\n" << text.text;
    EXPECT_EQ(again.bytes, bytes) << text.text;
}

bool loads(const Bytes& bytes) {
    return loaderRefusal(bytes).empty();
}

std::int32_t int32At(const Vec<signed char>& code, int offset) {
    std::uint32_t v = 0;
    for (int b = 0; b < 4; ++b)
        v |= std::uint32_t(static_cast<std::uint8_t>(code[offset + b])) << (8 * b);
    return static_cast<std::int32_t>(v);
}

// ---- operand encodings ------------------------------------------------------------------

TEST(AssemblerEncoding, PlainOperandsAreLittleEndianInTheirWidth) {
    EXPECT_EQ(code("push_local -1"), (Bytes{0x01, 0xFF}));
    EXPECT_EQ(code("push_local_w 300"), (Bytes{0x02, 0x2C, 0x01, 0, 0}));
    EXPECT_EQ(code("new_object 17, 2"), (Bytes{0x11, 17, 2, 0, 0, 0}));
    EXPECT_EQ(code("push_int 0xFF000000"), (Bytes{0x14, 0, 0, 0, 0xFF}));
    EXPECT_EQ(code("push_int -2"), (Bytes{0x14, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(code("push_long 1, -1"), (Bytes{0x41, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(code("ret 2, 3"), (Bytes{0x10, 2, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(code("native 32, 5"), (Bytes{0x4E, 32, 5}));
    EXPECT_EQ(code("new_store 14, 1, -1"), (Bytes{0x92, 14, 1, 0, 0, 0, 0xFF}));
    EXPECT_EQ(code("push_field_addr_local -1 2"), (Bytes{0x83, 0xFF, 2}));
    EXPECT_EQ(code("nop\nlnot\nbox"), (Bytes{0x00, 0x13, 0x7E}));
}

TEST(AssemblerEncoding, JumpOffsetsCountFromTheLastOperandByte) {
    // A jump to itself lands two bytes back from its last operand byte.
    EXPECT_EQ(code("here: jump here"), (Bytes{0x0C, 0xFE, 0xFF}));
    EXPECT_EQ(code("jump next\nnext: nop"), (Bytes{0x0C, 0x01, 0x00, 0x00}));
    EXPECT_EQ(code("jump_if_false_w next\nnop\nnext:"), (Bytes{0x0B, 2, 0, 0, 0, 0x00}));
    // A number is the offset itself: 0 lands on the jump's own last byte.
    EXPECT_EQ(code("jump 0"), (Bytes{0x0C, 0, 0}));
    // A caught exception resumes after handlerPc = last operand byte + offset, so a handler
    // label right after push_handler gives offset 0.
    EXPECT_EQ(code("push_handler T, catch\ncatch: nop"),
              (Bytes{0x75, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}));
    EXPECT_EQ(code("catch: push_handler U, catch"),
              (Bytes{0x75, 1, 0, 0, 0, 0xF7, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(code("push_handler -1, -8"),
              (Bytes{0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8, 0xFF, 0xFF, 0xFF}));
}

TEST(AssemblerEncoding, NamesResolveToTheirTableIndexes) {
    EXPECT_EQ(code("nop\nf: call f, n"), (Bytes{0x00, 0x0E, 1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(code("call 7, -1"), (Bytes{0x0E, 7, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(code("call_virtual w"), (Bytes{0x0F, 1, 0, 0, 0}));
    EXPECT_EQ(code("store_type U"), (Bytes{0x16, 1, 0, 0, 0}));
    // "call f" takes the label and the method record of the same name.
    Image image = assembledImage(".method a\n.method f\nf: call f");
    EXPECT_EQ(image.code, (Bytes{0x0E, 0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(AssemblerEncoding, StringOperandsByNameLiteralOrNumber) {
    Image image = assembledImage(".string a \"x\"\n.string b \"y\"\n"
                                 "push_string b\npush_string \"x\"\npush_string \"new\"\n"
                                 "push_string \"new\"\npush_string 9");
    EXPECT_EQ(image.strings, (std::vector<std::string>{"x", "y", "new"}));
    EXPECT_EQ(image.code, (Bytes{0x15, 1, 0,    0, 0, 0x15, 0, 0,    0, 0, 0x15, 2, 0,
                                 0,    0, 0x15, 2, 0, 0,    0, 0x15, 9, 0, 0,    0}));
}

TEST(AssemblerEncoding, EveryOpcodeOfTheTableAssemblesToItsByteAndSize) {
    for (int op = 0; op < 256; ++op) {
        const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(op));
        if (!info.isValid()) continue;
        std::string line = info.mnemonic;
        for (int i = 0; i < info.operandCount; ++i) line += i ? ", 0" : " 0";
        Bytes bytes = code(line);
        ASSERT_EQ(bytes.size(), 1u + info.operandBytes) << line;
        EXPECT_EQ(bytes[0], op) << line;
    }
}

TEST(AssemblerEncoding, TheLoaderRelocatesWhatTheNamesProduced) {
    Bytes bytes = assembleOrThrow(R"(
        .export "main" code=main method=main
        .export "<*app>.go<**int>" code=main method=main
        .virtual go "<*app>.go<**int>"
        .entry type=App code=main method=main
        .virtual other "other<int>"
        .type Base
        .type App super=Base
        .method main
        .string "a"
        main:
            call_virtual other
            call_virtual go
            store_type App
            push_string "b"
            push_handler App, main
            push_handler -1, main
    )");
    VirtualMachine vm;
    ZARNOK::MemoryInputStream stream;
    stream.setBuffer(bytes.data(), static_cast<TUint32>(bytes.size()));
    ASSERT_EQ(vm.loadImage(stream, "index.mcb"), 0);
    EXPECT_EQ(vm.exportedMethods[1].name, "<*app>.go<**int>");
    EXPECT_EQ(int32At(vm.code, 1), 2);  // "other" is the third named method
    EXPECT_EQ(int32At(vm.code, 6), 1);  // "go" joined the exported method of that name
    EXPECT_EQ(int32At(vm.code, 11), 2); // type record 1 is type id 2
    EXPECT_EQ(int32At(vm.code, 16), 1); // the second string constant
    EXPECT_EQ(int32At(vm.code, 21), 2);
    EXPECT_EQ(int32At(vm.code, 25), -29); // resumes at 0 = last operand byte 28 - 29 + 1
    EXPECT_EQ(int32At(vm.code, 30), -1);
    EXPECT_EQ(vm.superTypes[2], 1);
}

// ---- tables and widths --------------------------------------------------------------------

TEST(AssemblerTables, EveryRecordFormFillsTheImage) {
    Image image = assembledImage(R"(
        .identifier "0123456789abcdef\x00\x01\x02\x03"
        .export "main" code=start method=main
        .virtual draw "<*application>.draw to<canvas>"
        .entry type=App code=start method=main
        .entry type=7 code=3 method=-1
        .type Base vectors=[refs 4, 8, flag 0 12]
        .type App refs=[1, 2] super=Base interfaces=[Base, 5]
        .method main args=2 extra=1 locals=3 a=[0] b=[refs 1] c=[2, 3] d=[4]
        .string hello "H\u{e9}llo\n\t\"\\"
        start: nop
    )");
    EXPECT_EQ(image.identifier[16], 0);
    EXPECT_EQ(image.identifier[19], 3);
    EXPECT_EQ(image.exportedMethods, (std::vector<Image::ExportedMethod>{{"main", 0, 0}}));
    ASSERT_EQ(image.virtualMethods.size(), 1u);
    EXPECT_EQ(image.virtualMethods[0].name, "<*application>.draw to<canvas>");
    EXPECT_EQ(image.virtualMethods[0].entries,
              (std::vector<Image::VirtualEntry>{{1, 0, 0}, {7, 3, -1}}));
    ASSERT_EQ(image.types.size(), 2u);
    EXPECT_EQ(image.types[0].flaggedOffsets,
              (std::vector<Image::Flagged>{{0xFF, 4}, {0, 8}, {0, 12}}));
    EXPECT_EQ(image.types[1].refOffsets, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(image.types[1].superFlag, 1);
    EXPECT_EQ(image.types[1].superType, 0);
    EXPECT_EQ(image.types[1].interfaces, (std::vector<std::int32_t>{0, 5}));
    ASSERT_EQ(image.methods.size(), 1u);
    const Image::MethodInfo& m = image.methods[0];
    EXPECT_EQ(std::tie(m.argSlots, m.extraSlots, m.localSlots), std::make_tuple(2, 1, 3));
    EXPECT_EQ(m.offsetsB, (std::vector<Image::Flagged>{{0xFF, 1}}));
    EXPECT_EQ(m.offsetsC, (std::vector<std::int32_t>{2, 3}));
    EXPECT_EQ(image.strings, (std::vector<std::string>{"H\xC3\xA9llo\n\t\"\\"}));
}

TEST(AssemblerTables, WidthsAreTheSmallestThatFitUnlessGiven) {
    std::string methods;
    for (int i = 0; i <= 300; ++i) methods += ".method m" + std::to_string(i) + "\n";
    Bytes bytes = assembleOrThrow(methods + ".export \"main\" code=0 method=m300\n");
    EXPECT_EQ(bytes[23 + Image::CodeOffset], 1);
    EXPECT_EQ(bytes[23 + Image::MethodIndex], 2) << "method index 300 needs width 2";

    bytes = assembleOrThrow(".virtual \"v\"\n.entry type=-1 code=70000 method=0");
    EXPECT_EQ(bytes[23 + Image::TypeId], 4);
    EXPECT_EQ(bytes[23 + Image::CodeOffset], 4);

    bytes =
        assembleOrThrow(".width methodIndex 4\n.width typeId auto\n.export \"m\" code=0 method=1");
    EXPECT_EQ(bytes[23 + Image::MethodIndex], 4);
    EXPECT_EQ(bytes[23 + Image::TypeId], 1);

    Image image = assembledImage(".type refs=[300]\n.type width=4 refs=[1]\n.method c=[-1]");
    EXPECT_EQ(writeImage(image)[44], 2); // the first type's element width
    EXPECT_EQ(image.types[1].elementWidth, 4);
    EXPECT_EQ(automaticElementWidth(image.methods[0]), 4);
}

TEST(AssemblerTables, NamesAreStoredExactlyWithTheirLevelRuns) {
    const char* names[] = {"main", "<*application>.draw to<canvas>", "(*<**x>.f<***int>",
                           "vminternalthrow<int>,<string>", "a\"b\\c"};
    for (const char* name : names) {
        Bytes bytes =
            assembleOrThrow(".export " + asmsyntax::quote(name, false) + " code=0 method=0");
        VirtualMachine vm;
        ZARNOK::MemoryInputStream stream;
        stream.setBuffer(bytes.data(), static_cast<TUint32>(bytes.size()));
        ASSERT_EQ(vm.loadImage(stream, "index.mcb"), 0);
        EXPECT_EQ(vm.exportedMethods[0].name, name);
        expectRoundTrip(bytes);
    }
}

// ---- escape hatches ----------------------------------------------------------------------

TEST(AssemblerEscapes, RawBytesGoWhereTheyAreWritten) {
    Bytes bytes = assembleOrThrow(R"(
        .bytes 0xAA
        .exports
        .bytes 0xBB
        .export "m" code=0 method=0
        .int16 0x1234
        .strings
        .string "s"
        .int32 -1
        .code
        nop
        .bytes "x", -1
    )");
    Bytes expected = {20};
    expected.resize(21);
    expected.insert(expected.end(), {0xFF, 0xFF, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    expected.insert(expected.end(), {0xAA, 1, 0, 0, 0, 0xBB, 1, 0, 0, 0, 'm', 0, 0, 0x34, 0x12});
    expected.insert(expected.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    expected.insert(expected.end(), {1, 0, 0, 0, 1, 0, 0, 0, 's', 0xFF, 0xFF, 0xFF, 0xFF});
    expected.insert(expected.end(), {0x00, 'x', 0xFF});
    EXPECT_EQ(bytes, expected);
}

TEST(AssemblerEscapes, CountsWidthsFlagsAndHeaderFieldsCanBeWrong) {
    Image image = assembledImage(R"(
        .identifier "ABCDEFGHIJKLMNOPQRST" length=19
        .marker 0xFE, 0xFF
        .width typeId 3
        .width argSlots 0
        .types count=5
        .type refs=[1] refs.count=1000 vectors=[flag 0x7F 2] superflag=9 interfaces.count=-1
        .virtual "v" entries=-3 length=100
        .method width=3 a.count=-1 d.count=2
        .string "abc" length=-7
    )");
    EXPECT_EQ(image.identifierLength, 19);
    EXPECT_EQ(image.marker[0], 0xFE);
    EXPECT_EQ(image.widths[Image::TypeId], 3);
    EXPECT_EQ(image.widths[Image::ArgSlots], 0);
    EXPECT_EQ(image.types[0].flaggedOffsets[0].flag, 0x7F);
    EXPECT_EQ(image.types[0].superFlag, 9);
    EXPECT_EQ(image.methods[0].elementWidth, 3);
    using C = Image::Count;
    std::map<Image::CountAt, std::int32_t> counts = {
        {{Image::Types, -1, C::Records}, 5},    {{Image::Types, 0, C::ListA}, 1000},
        {{Image::Types, 0, C::Interfaces}, -1}, {{Image::Virtuals, 0, C::Entries}, -3},
        {{Image::Virtuals, 0, C::Name}, 100},   {{Image::Methods, 0, C::ListA}, -1},
        {{Image::Methods, 0, C::ListD}, 2},     {{Image::Strings, 0, C::Name}, -7}};
    EXPECT_EQ(image.counts, counts);
    Bytes bytes = writeImage(image);
    EXPECT_EQ(bytes[0], 19);
    EXPECT_EQ(bytes[23 + Image::ArgSlots], 0);
    EXPECT_FALSE(loads(bytes));
}

TEST(AssemblerEscapes, EachMalformationIsRefusedByTheLoader) {
    const std::string good = ".export \"main\" code=0 method=0\n.type refs=[1]\n"
                             ".method c=[0]\n.virtual v \"v\"\n.code\nnop\n";
    ASSERT_TRUE(loads(assembleOrThrow(good)));
    const char* mistakes[] = {
        ".identifier \"....................\" length=21",
        ".marker 0xFF, 0x00",
        ".width entryCount 3",
        ".types\n.type width=4 vectors=[flag 1 0]",
        ".exports count=-1",
        ".strings count=1",
        ".string \"x\" length=3",
        ".code\ncall_virtual 1",
        ".code\n.bytes 0x14, 1",
        ".methods\n.bytes 7",
    };
    for (const char* mistake : mistakes)
        EXPECT_FALSE(loads(assembleOrThrow(good + mistake))) << mistake;
}

// ---- errors -------------------------------------------------------------------------------

struct ErrorCase {
    const char* source;
    int line;
    int column;
    const char* message;
};

TEST(AssemblerErrors, NameTheFileLineColumnAndTheMistake) {
    const ErrorCase cases[] = {
        {"nop\n  pushint 1", 2, 3, "unknown mnemonic 'pushint'; did you mean 'push_int'?"},
        {"jump nowhere", 1, 6, "undefined label 'nowhere'"},
        {"loop: nop\njump lop", 2, 6, "undefined label 'lop'; did you mean 'loop'?"},
        {"call_virtual draw", 1, 14, "undefined virtual method 'draw'"},
        {"store_type T", 1, 12, "undefined type 'T'"},
        {"push_string s", 1, 13, "undefined string 's'"},
        {".export \"m\" code=0 method=x", 1, 27, "undefined method 'x'"},
        {"push_local 256", 1, 12, "operand 256 out of range for 1 byte"},
        {"push_local -129", 1, 12, "operand -129 out of range for 1 byte"},
        {"jump 65536", 1, 6, "operand 65536 out of range for 2 bytes"},
        {"push_int 0x100000000", 1, 10, "operand 4294967296 out of range for 4 bytes"},
        {"a: nop\na: nop", 2, 1, "duplicate label 'a' (first defined at line 1)"},
        {".type T\n.type T", 2, 7, "duplicate type 'T' (first defined at line 1)"},
        {".method m\n.method m", 2, 9, "duplicate method 'm' (first defined at line 1)"},
        {".width methodIndex 1\n.export \"m\" code=0 method=300", 2, 27,
         "300 out of range for width methodIndex 1 (0 to 255)"},
        {".export \"m\" code=0 method=-1\n.width methodIndex 2", 1, 27,
         "-1 out of range for width methodIndex 2 (0 to 65535)"},
        {".type width=1 refs=[256]", 1, 21, "256 out of range for element width 1 (0 to 255)"},
        {"ret 1", 1, 1, "ret takes 2 operands, found 1"},
        {"nop 1", 1, 1, "nop takes 0 operands, found 1"},
        {".string \"abc", 1, 9, "unterminated string"},
        {".string \"a\\q\"", 1, 11, "unknown escape"},
        {".identifier \"short\"", 1, 13, "the identifier must be 20 bytes, this one has 5"},
        {".export \"m\" code=0", 1, 1, ".export needs method="},
        {".type T color=1", 1, 9, "unknown option 'color' for .type"},
        {".tpye T", 1, 1, "unknown directive '.tpye'; did you mean '.type'?"},
        {".entry type=0 code=0 method=0", 1, 1, ".entry must follow a .virtual record"},
        {".width speed 1", 1, 8, "unknown width 'speed'"},
        {"push_int $", 1, 10, "unexpected character '$'"},
        {"push_int 12ab", 1, 10, "malformed number '12a'"},
        {".type refs=[1 2]", 1, 15, "expected ',' or ']' in the list"},
        {".type interfaces=[refs 1]", 1, 19, "only flagged lists take 'refs' or 'flag'"},
    };
    for (const ErrorCase& c : cases) {
        AssemblyResult result = assemble(c.source, "prog.s");
        ASSERT_FALSE(result.ok()) << c.source;
        ASSERT_TRUE(result.bytes.empty());
        const AssemblyError& e = result.errors[0];
        EXPECT_EQ(e.file, "prog.s");
        EXPECT_EQ(e.line, c.line) << c.source;
        EXPECT_EQ(e.column, c.column) << c.source;
        EXPECT_NE(e.message.find(c.message), std::string::npos)
            << c.source << "\n got: " << e.message;
    }
}

TEST(AssemblerErrors, AShortJumpTooFarAsksForTheWideForm) {
    std::string source = "jump far\n.bytes";
    for (int i = 0; i < 40000; ++i) source += " 0";
    source += "\nfar: nop";
    AssemblyResult result = assemble(source);
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_NE(result.errors[0].message.find("use the _w form"), std::string::npos);
}

TEST(AssemblerErrors, EveryMistakeIsReportedInOneRun) {
    AssemblyResult result = assemble("pushint 1\njump nowhere\npush_local 999\n");
    ASSERT_EQ(result.errors.size(), 3u);
    EXPECT_EQ(result.errors[2].toString(),
              "<source>:3:12: error: operand 999 out of range for 1 byte");
    EXPECT_THROW(assembleOrThrow("pushint 1"), std::runtime_error);
}

TEST(AssemblerErrors, SurvivesGarbledSources) {
    const std::string source =
        ".identifier \"abcdefghijklmnopqrst\"\n.width typeId 2\n"
        ".virtual v \"<*a>.f<int>\" entries=1\n.entry type=T code=f method=f\n"
        ".type T refs=[1] vectors=[refs 2, flag 0 3] super=T\n"
        ".method f args=1 c=[0]\n.string s \"x\\u{e9}\\x00\"\n"
        "f: push_handler T, f\n jump f\n call f\n push_string \"y\"\n"
        ".bytes 1, \"z\"\n.int32 -1\n";
    std::mt19937 random(7);
    const std::string alphabet = " ,:=[]\"\\.;-+0x1aZ_\n\t\xC3";
    for (int round = 0; round < 2000; ++round) {
        std::string text = source;
        for (int edits = 1 + random() % 5; edits > 0; --edits) {
            std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0: text.erase(at, 1 + random() % 3); break;
            case 1: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
            default: text.insert(at, text.substr(random() % text.size(), random() % 12));
            }
            if (text.empty()) text = "x";
        }
        AssemblyResult result = assemble(text);
        EXPECT_NE(result.ok(), result.bytes.empty()) << text;
        for (const auto& e : result.errors) EXPECT_GE(e.line, 1) << e.toString();
    }
}

// ---- the manual --------------------------------------------------------------------------

std::string manual() {
    // Not from __FILE__: ccache may make it relative to the build directory.
    auto path = std::filesystem::path(ZENTU_SOURCE_DIR) / "docs/ASSEMBLY.md";
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(AssemblyManual, ItsExampleAssemblesAndLoads) {
    std::string text = manual();
    std::size_t heading = text.find("## A complete example");
    ASSERT_NE(heading, std::string::npos);
    std::size_t start = text.find("```asm\n", heading) + 7;
    std::size_t end = text.find("```", start);
    Bytes bytes = assembleOrThrow(text.substr(start, end - start), "ASSEMBLY.md");
    EXPECT_EQ(loaderRefusal(bytes), "");
    expectRoundTrip(bytes);
}

TEST(AssemblyManual, ListsEveryMnemonicWithItsOpcode) {
    std::string text = manual();
    for (int op = 0; op < 256; ++op) {
        const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(op));
        if (!info.isValid()) continue;
        char row[64];
        std::snprintf(row, sizeof row, "| %02X | `%s` |", op, info.mnemonic);
        EXPECT_NE(text.find(row), std::string::npos) << row;
    }
}

} // namespace
