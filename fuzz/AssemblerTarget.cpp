// zentu-asm on any source text: it assembles or reports errors that name a place in the text;
// an image it makes that the loader accepts survives the trip through the disassembler.

#include "Assembler.h"
#include "Disassembler.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "assembler target: %s\n%s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16) return -1;
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const AssemblyResult result = assemble(source, "fuzz.s");
    if (!result.ok()) {
        if (!result.bytes.empty()) broken("errors and bytes", result.errorText());
        const long lines = std::count(source.begin(), source.end(), '\n') + 1;
        for (const AssemblyError& error : result.errors)
            if (error.line < 1 || error.line > lines || error.column < 1 || error.message.empty())
                broken("an error outside the text", error.toString());
        return 0;
    }
    const DisassemblyResult text = disassemble(result.bytes);
    if (!text.ok()) {
        if (text.error.rfind("Error while reading bytecode", 0) != 0)
            broken("the disassembler gave up on an image the loader accepts", text.error);
        return 0;
    }
    const AssemblyResult again = assemble(text.text, "disassembly.s");
    if (!again.ok()) broken("the disassembly does not assemble", again.errorText() + text.text);
    if (again.bytes != result.bytes)
        broken("the disassembly assembles into other bytes", text.text);
    return 0;
}
