// zentu-dis: prints an index.mcb image as assembly source that zentu-asm reads back.

#include "Disassembler.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: zentu-dis IMAGE [-o SOURCE]\n"
                         "Disassembles IMAGE to SOURCE, by default to standard output.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string image, output;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (image.empty() && arg[0] != '-')
            image = arg;
        else
            return usage();
    }
    if (image.empty()) return usage();

    std::ifstream in(image, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zentu-dis: cannot read '%s'\n", image.c_str());
        return 1;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    DisassemblyResult result = disassemble(bytes);
    if (!result.ok()) {
        std::fprintf(stderr, "zentu-dis: %s: %s\n", image.c_str(), result.error.c_str());
        return 1;
    }
    if (output.empty()) {
        std::fputs(result.text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << result.text;
    if (!out.flush()) {
        std::fprintf(stderr, "zentu-dis: cannot write '%s'\n", output.c_str());
        return 1;
    }
    return 0;
}
