// zentu-asm: assembles a source file into an index.mcb image.

#include "Assembler.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: zentu-asm SOURCE [-o IMAGE]\n"
                         "Assembles SOURCE ('-' for standard input) into IMAGE, by default SOURCE\n"
                         "with its extension replaced by .mcb. See docs/ASSEMBLY.md.\n");
    return 2;
}

bool readSource(const std::string& path, std::string& text) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

std::string defaultOutput(const std::string& source) {
    std::size_t slash = source.find_last_of('/');
    std::size_t dot = source.find_last_of('.');
    std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                           ? source.substr(0, dot)
                           : source;
    return stem + ".mcb";
}

// Writes beside the target and renames, so that a failed write leaves no partial image.
bool writeImageFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
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
    if (!writeImageFile(output, result.bytes)) {
        std::fprintf(stderr, "zentu-asm: cannot write '%s'\n", output.c_str());
        return 1;
    }
    return 0;
}
