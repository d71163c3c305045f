// zentu-dis: prints an index.mcb image as assembly source that zentu-asm reads back.

#include "Disassembler.h"
#include "Files.h"

#include <cstdio>
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

    std::string contents;
    if (!readWholeFile(image, contents)) {
        std::fprintf(stderr, "zentu-dis: cannot read '%s'\n", image.c_str());
        return 1;
    }
    DisassemblyResult result = disassemble({contents.begin(), contents.end()});
    if (!result.ok()) {
        std::fprintf(stderr, "zentu-dis: %s: %s\n", image.c_str(), result.error.c_str());
        return 1;
    }
    if (output.empty()) {
        std::fwrite(result.text.data(), 1, result.text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!writeWholeFile(output, result.text)) {
        std::fprintf(stderr, "zentu-dis: cannot write '%s'\n", output.c_str());
        return 1;
    }
    return 0;
}
