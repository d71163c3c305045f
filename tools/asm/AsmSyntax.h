#pragma once

#include "Image.h"

#include <string>
#include <string_view>

// Spellings shared by the assembler and the disassembler, so that what one prints the other
// reads back.
namespace asmsyntax {

// ".width" role names, indexed by Image::Width.
extern const char* const kWidthRoles[Image::kWidthCount];
// Section directive names, indexed by Image::Table.
extern const char* const kTableSections[Image::kTableCount];

// A quoted string literal. Printable ASCII stays as it is, '"' and '\' are escaped, other bytes
// become \xNN; with utf8 set, well-formed UTF-8 sequences stay as they are.
std::string quote(std::string_view bytes, bool utf8);

bool isIdentifierStart(char c);
bool isIdentifierChar(char c);
bool isIdentifier(std::string_view text);

} // namespace asmsyntax
