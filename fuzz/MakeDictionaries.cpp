// Writes the libFuzzer dictionaries that follow from the instruction set and the image format:
// image.dict (whole instructions, width headers, counts, entry names) and asm.dict (mnemonics,
// directives, width roles). Usage: make-dictionaries DIRECTORY

#include "AsmSyntax.h"
#include "Opcodes.h"
#include "VirtualMachine.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class Dictionary {
public:
    explicit Dictionary(const std::string& path) : out(path) {}
    bool ok() const { return out.good(); }

    void add(const std::string& name, const Bytes& bytes) {
        out << name << "=\"";
        for (std::uint8_t b : bytes) {
            if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
                out << static_cast<char>(b);
            } else {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
                out << escaped;
            }
        }
        out << "\"\n";
    }
    void add(const std::string& name, const std::string& text) {
        add(name, Bytes(text.begin(), text.end()));
    }

private:
    std::ofstream out;
};

Bytes int32(std::int32_t value) {
    Bytes bytes;
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i)));
    return bytes;
}

// Every instruction with zero operands, so that the fuzzer can insert whole instructions.
void addInstructions(Dictionary& dictionary) {
    for (int opcode = 0; opcode < 256; ++opcode) {
        const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(opcode));
        if (!info.isValid()) continue;
        Bytes bytes{static_cast<std::uint8_t>(opcode)};
        bytes.resize(1 + info.operandBytes, 0);
        dictionary.add(std::string("op_") + info.mnemonic, bytes);
    }
    // A native call of every group, function 1.
    const auto native = static_cast<std::uint8_t>(Opcode::native);
    for (int group = 1; group <= 35; ++group)
        dictionary.add("native_" + std::to_string(group),
                       Bytes{native, static_cast<std::uint8_t>(group), 1});
}

void addImageFormat(Dictionary& dictionary) {
    dictionary.add("identifier_length", Bytes{20});
    for (std::uint8_t width : {1, 2, 4}) {
        Bytes header{0xFF, 0xFF};
        header.resize(2 + Image::kWidthCount, width);
        dictionary.add("width_header_" + std::to_string(width), header);
    }
    dictionary.add("marker", Bytes{0xFF, 0xFF});
    dictionary.add("flag_refs", Bytes{0xFF});
    const std::pair<const char*, std::int32_t> numbers[] = {
        {"zero", 0},
        {"one", 1},
        {"minus_one", -1},
        {"int_max", 0x7FFFFFFF},
        {"int_min", INT32_MIN},
        {"type_limit", 1 << 24},
        {"stack_slots", VirtualMachine::kStackSlots}};
    for (const auto& [name, value] : numbers)
        dictionary.add(std::string("int32_") + name, int32(value));
    for (const char* name : VirtualMachine::kEntryNames) {
        const std::string text = name;
        Bytes record = int32(static_cast<std::int32_t>(text.size()));
        record.insert(record.end(), text.begin(), text.end());
        dictionary.add("entry_name", record);
        dictionary.add("entry_text", text);
    }
}

void addAssembly(Dictionary& dictionary) {
    for (int opcode = 0; opcode < 256; ++opcode) {
        const OpcodeInfo& info = opcodeInfo(static_cast<TUint8>(opcode));
        if (info.isValid()) dictionary.add("mnemonic", std::string(info.mnemonic) + " ");
    }
    for (const char* section : asmsyntax::kTableSections) dictionary.add("section", section);
    for (const char* directive : {".identifier", ".marker", ".width", ".code", ".export",
                                  ".virtual", ".entry", ".type", ".method", ".string", ".bytes"})
        dictionary.add("directive", std::string(directive) + " ");
    for (const char* role : asmsyntax::kWidthRoles) dictionary.add("width_role", role);
    for (const char* key : {"code=", "method=", "type=", "length=", "entries=", "super=",
                            "superflag=", "refs=", "vectors=", "interfaces=", "width=", "args=",
                            "extra=", "locals=", "a=", "b=", "c=", "d="})
        dictionary.add("option", key);
    for (const char* name : VirtualMachine::kEntryNames)
        dictionary.add("entry_name", "\"" + std::string(name) + "\"");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-dictionaries DIRECTORY\n");
        return 2;
    }
    const std::string directory = argv[1];
    Dictionary image(directory + "/image.dict");
    addInstructions(image);
    addImageFormat(image);
    Dictionary assembly(directory + "/asm.dict");
    addAssembly(assembly);
    if (!image.ok() || !assembly.ok()) {
        std::fprintf(stderr, "make-dictionaries: cannot write to %s\n", directory.c_str());
        return 1;
    }
    return 0;
}
