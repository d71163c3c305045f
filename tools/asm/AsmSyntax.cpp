#include "AsmSyntax.h"

namespace asmsyntax {

const char* const kWidthRoles[Image::kWidthCount] = {"codeOffset", "methodIndex",    "typeId",
                                                     "superFlag",  "interfaceCount", "argSlots",
                                                     "extraSlots", "localSlots",     "entryCount"};

const char* const kTableSections[Image::kTableCount] = {".exports", ".virtuals", ".types",
                                                        ".methods", ".strings"};

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (shortest form, no surrogates), or 0.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    std::size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                         : b >= 0xE0 && b <= 0xEF ? 3
                         : b >= 0xF0 && b <= 0xF4 ? 4
                                                  : 0;
    if (length == 0 || i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(i + 1);
    if (b == 0xE0 && second < 0xA0) return 0; // overlong
    if (b == 0xED && second > 0x9F) return 0; // surrogate
    if (b == 0xF0 && second < 0x90) return 0; // overlong
    if (b == 0xF4 && second > 0x8F) return 0; // above U+10FFFF
    return length;
}

} // namespace

std::string quote(std::string_view bytes, bool utf8) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t sequence = utf8 && b >= 0x80 ? utf8SequenceLength(bytes, i) : 0;
        if (sequence > 0) {
            out.append(bytes.substr(i, sequence));
            i += sequence;
            continue;
        }
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (b >= 0x20 && b < 0x7F) {
                out += static_cast<char>(b);
            } else {
                out += "\\x";
                out += digits[b >> 4];
                out += digits[b & 15];
            }
        }
        ++i;
    }
    return out + "\"";
}

bool isIdentifierStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isIdentifierChar(char c) {
    return isIdentifierStart(c) || (c >= '0' && c <= '9') || c == '.';
}

bool isIdentifier(std::string_view text) {
    if (text.empty() || !isIdentifierStart(text[0])) return false;
    for (char c : text)
        if (!isIdentifierChar(c)) return false;
    return true;
}

} // namespace asmsyntax
