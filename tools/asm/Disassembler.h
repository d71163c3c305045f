#pragma once

#include "Image.h"

#include <string>
#include <vector>

struct DisassemblyResult {
    std::string text;  // assembly source that zentu-asm turns back into the same bytes
    std::string error; // why the image was refused; empty on success
    bool ok() const { return error.empty(); }
};

// Disassembles an index.mcb image. An image that the loader refuses is refused with the
// loader's message and the reason found while reading it.
DisassemblyResult disassemble(const std::vector<std::uint8_t>& bytes);

// The source of an image model, escape hatches included: assembling it gives writeImage(image)
// as long as every value fits the width it is written with.
std::string disassembleImage(const Image& image);

// Empty when the loader accepts the bytes, else its message ("Error while reading bytecode"
// and the error it raised, if any).
std::string loaderRefusal(const std::vector<std::uint8_t>& bytes);
