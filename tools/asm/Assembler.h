#pragma once

#include "Image.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The assembly language of index.mcb images; docs/ASSEMBLY.md describes it.

struct AssemblyError {
    std::string file;
    int line = 0;
    int column = 0;
    std::string message;
    // "file:line:column: error: message"
    std::string toString() const;
};

struct AssemblyResult {
    std::vector<std::uint8_t> bytes; // empty when there are errors
    std::vector<AssemblyError> errors;
    bool ok() const { return errors.empty(); }
    // Every error on a line of its own.
    std::string errorText() const;
};

// Assembles source text into the bytes of an image; fileName only appears in messages.
AssemblyResult assemble(std::string_view source, std::string_view fileName = "<source>");

// The image before it is written; nullopt, with the errors filled in, when the source is wrong.
std::optional<Image> assembleImage(std::string_view source, std::string_view fileName,
                                   std::vector<AssemblyError>& errors);

// For tests and tools that build images from text they trust: the bytes, or a
// std::runtime_error whose text lists every error.
std::vector<std::uint8_t> assembleOrThrow(std::string_view source,
                                          std::string_view fileName = "<source>");
