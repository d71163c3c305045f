#include "CAppsString.h"

CAppsString& CAppsString::append(std::string_view latin1) {
    reserve(size() + static_cast<int>(latin1.size()));
    for (unsigned char c : latin1) Vec::append(c);
    return *this;
}

CAppsString& CAppsString::append(const CAppsString& other) {
    Vec::append(other.data(), other.size());
    return *this;
}

CAppsString& CAppsString::appendNumber(TInt64 value) {
    return append(std::to_string(value));
}

bool CAppsString::operator==(std::string_view latin1) const {
    if (static_cast<size_t>(size()) != latin1.size()) return false;
    for (int i = 0; i < size(); ++i)
        if (data()[i] != static_cast<unsigned char>(latin1[i])) return false;
    return true;
}

std::string CAppsString::toLatin1() const {
    std::string out;
    out.reserve(size());
    for (TUint16 u : *this) out.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
    return out;
}

std::string CAppsString::toUtf8() const {
    std::string out;
    TUint8 bytes[3];
    for (TUint16 u : *this) {
        const TUint8* end = encodeUtf8(u, bytes);
        out.append(reinterpret_cast<const char*>(bytes), end - bytes);
    }
    return out;
}

TUint8* CAppsString::encodeUtf8(TUint16 unit, TUint8* out) {
    switch (utf8Length(unit)) {
    case 1: *out++ = static_cast<TUint8>(unit); break;
    case 2:
        *out++ = static_cast<TUint8>(0xC0 | (unit >> 6));
        *out++ = static_cast<TUint8>(0x80 | (unit & 0x3F));
        break;
    default:
        *out++ = static_cast<TUint8>(0xE0 | (unit >> 12));
        *out++ = static_cast<TUint8>(0x80 | ((unit >> 6) & 0x3F));
        *out++ = static_cast<TUint8>(0x80 | (unit & 0x3F));
    }
    return out;
}

CAppsString CAppsString::fromUtf8(std::string_view utf8) {
    // Lenient: nothing is refused, one unit per sequence (the low 16 bits of a four-byte one),
    // and a sequence cut short by the end of the text becomes U+FFFD.
    CAppsString out;
    out.reserve(static_cast<int>(utf8.size()));
    for (size_t i = 0; i < utf8.size();) {
        unsigned char b = utf8[i];
        int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (i + length > utf8.size()) {
            out.Vec::append(0xFFFD);
            break;
        }
        TUint32 unit = length == 1 ? b : b & (0x7F >> length);
        for (int k = 1; k < length; ++k) unit = (unit << 6) | (utf8[i + k] & 0x3F);
        out.Vec::append(static_cast<TUint16>(unit));
        i += length;
    }
    return out;
}
