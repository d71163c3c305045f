// zentu-dis on any bytes: an image the loader refuses is refused with the loader's message;
// one it accepts disassembles into source that assembles back into the same bytes.

#include "Assembler.h"
#include "Disassembler.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "disassembler target: %s\n%s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16) return -1; // the text of larger images costs more than it finds
    const std::vector<std::uint8_t> bytes(data, data + size);
    const DisassemblyResult text = disassemble(bytes);
    if (!text.ok()) {
        // Any other message means the disassembler gave up on an image the loader accepts.
        if (text.error.rfind("Error while reading bytecode", 0) != 0)
            broken("a refusal without the loader's message", text.error);
        return 0;
    }
    const AssemblyResult again = assemble(text.text, "disassembly.s");
    if (!again.ok()) broken("the disassembly does not assemble", again.errorText() + text.text);
    if (again.bytes != bytes) broken("the disassembly assembles into other bytes", text.text);
    return 0;
}
