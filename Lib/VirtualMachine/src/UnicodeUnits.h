#pragma once

#include "Types.h"

// Character properties of single UTF-16 units, answering exactly as QChar does for a lone
// unit (surrogates included). The tables are generated from Qt at build time, so the
// runtime needs no Qt to use them.
namespace UnicodeUnits {

namespace detail {

enum Flag : TUint8 { Letter = 1, Digit = 2, Space = 4 };

// Two stages: the high byte picks a shared 256-unit block, the low byte the entry in it.
extern const TUint8 kFlagBlockOf[256];
extern const TUint8 kFlagBlocks[][256];
extern const TUint8 kLowerDeltaBlockOf[256];
extern const TUint16 kLowerDeltaBlocks[][256];
extern const TUint8 kUpperDeltaBlockOf[256];
extern const TUint16 kUpperDeltaBlocks[][256];

template <typename T> T lookup(const TUint8 (&blockOf)[256], const T (*blocks)[256], TUint16 unit) {
    return blocks[blockOf[unit >> 8]][unit & 0xFF];
}

inline bool has(TUint16 unit, Flag flag) {
    return lookup(kFlagBlockOf, kFlagBlocks, unit) & flag;
}

} // namespace detail

inline bool isLetter(TUint16 unit) {
    return detail::has(unit, detail::Letter);
}
inline bool isDigit(TUint16 unit) {
    return detail::has(unit, detail::Digit);
}
inline bool isSpace(TUint16 unit) {
    return detail::has(unit, detail::Space);
}

// Simple case maps; units whose mapping needs more than one unit map to themselves.
inline TUint16 toLower(TUint16 unit) {
    return TUint16(unit +
                   detail::lookup(detail::kLowerDeltaBlockOf, detail::kLowerDeltaBlocks, unit));
}
inline TUint16 toUpper(TUint16 unit) {
    return TUint16(unit +
                   detail::lookup(detail::kUpperDeltaBlockOf, detail::kUpperDeltaBlocks, unit));
}

} // namespace UnicodeUnits
