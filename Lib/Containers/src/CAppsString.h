#pragma once

#include "Vec.h"

#include <string>
#include <string_view>

// A 16-bit string kept outside the VM heap: paths, messages and reports.
class CAppsString : public Vec<TUint16> {
public:
    CAppsString() = default;
    CAppsString(const char* latin1) { append(latin1); }
    CAppsString(std::string_view latin1) { append(latin1); }
    CAppsString(const TUint16* units, int count) { Vec::append(units, count); }

    using Vec::append;
    CAppsString& append(std::string_view latin1);
    CAppsString& append(const char* latin1) { return append(std::string_view(latin1)); }
    CAppsString& append(const CAppsString& other);
    CAppsString& appendNumber(TInt64 value);

    bool operator==(const CAppsString& other) const { return Vec::operator==(other); }
    bool operator==(std::string_view latin1) const;
    // Without it, comparing with a literal is ambiguous between the two above.
    bool operator==(const char* latin1) const { return *this == std::string_view(latin1); }

    // Units above 0xFF become '?'; meant for diagnostics and 7-bit names.
    std::string toLatin1() const;
    std::string toUtf8() const;
    static CAppsString fromUtf8(std::string_view utf8);

    // UTF-8 of one 16-bit unit on its own (a surrogate too): its length, and its bytes
    // written at out; returns the byte after them.
    static int utf8Length(TUint16 unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3; }
    static TUint8* encodeUtf8(TUint16 unit, TUint8* out);
};
