// zentu-asm: assembles a source file into an index.mcb image.

#include "Assembler.h"
#include "Files.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: zentu-asm SOURCE [-o IMAGE]\n"
                         "Assembles SOURCE ('-' for standard input) into IMAGE, by default SOURCE\n"
                         "with its extension replaced by .mcb. See docs/ASSEMBLY.md.\n");
    return 2;
}

bool readSource(const std::string& path, std::string& text) {
    if (path != "-") return readWholeFile(path, text);
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
}

std::string defaultOutput(const std::string& source) {
    std::size_t slash = source.find_last_of('/');
    std::size_t dot = source.find_last_of('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? source.substr(0, dot) : source) + ".mcb";
}

} // namespace

int main(int argc, char** argv) {
    std::string source, output;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (source.empty() && (arg == "-" || arg[0] != '-'))
            source = arg;
        else
            return usage();
    }
    if (source.empty() || (source == "-" && output.empty())) return usage();
    if (output.empty()) output = defaultOutput(source);

    std::string text;
    if (!readSource(source, text)) {
        std::fprintf(stderr, "zentu-asm: cannot read '%s'\n", source.c_str());
        return 1;
    }
    AssemblyResult result = assemble(text, source == "-" ? "<stdin>" : source);
    if (!result.ok()) {
        std::fputs(result.errorText().c_str(), stderr);
        std::fprintf(stderr, "zentu-asm: %zu error%s, nothing written\n", result.errors.size(),
                     result.errors.size() == 1 ? "" : "s");
        return 1;
    }
    if (!writeWholeFile(output, std::string(result.bytes.begin(), result.bytes.end()))) {
        std::fprintf(stderr, "zentu-asm: cannot write '%s'\n", output.c_str());
        return 1;
    }
    return 0;
}
