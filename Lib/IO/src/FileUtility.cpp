#include "FileUtility.h"

#include "ErrorHandling.h"
#include "NativeFiles.h"

#include <climits>
#include <unistd.h>

namespace {

constexpr TUint16 KSlash = '/';
constexpr TUint16 KBackslash = '\\';
constexpr TUint16 KReplacement = 0xFFFD;

bool isSeparator(TUint16 unit) {
    return unit == KSlash || unit == KBackslash;
}

bool isDotSegment(const CAppsString& segment) {
    return segment == "." || segment == "..";
}

Vec<CAppsString> segmentsOf(const CAppsString& path) {
    Vec<CAppsString> segments(1);
    for (TUint16 unit : path) {
        if (unit == KSlash) {
            segments.append(CAppsString());
        } else {
            segments.last().append(unit);
        }
    }
    return segments;
}

// Clean as it stands: no empty segment but a trailing one, no "." or ".." segment.
bool isClean(const CAppsString& path) {
    const Vec<CAppsString> segments = segmentsOf(path);
    for (int i = 0; i < segments.size(); ++i) {
        const bool leadingRoot = i == 0 && path[0] == KSlash;
        const bool trailing = i == segments.size() - 1 && i > 0;
        if (segments[i].isEmpty() ? !leadingRoot && !trailing : isDotSegment(segments[i]))
            return false;
    }
    return true;
}

void appendCodePoint(TUint32 codePoint, CAppsString& out) {
    if (codePoint < 0x10000) {
        out.append(static_cast<TUint16>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.append(static_cast<TUint16>(0xD800 | (codePoint >> 10)));
    out.append(static_cast<TUint16>(0xDC00 | (codePoint & 0x3FF)));
}

int sequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The code point of the sequence at the start of bytes, or -1 for a broken, overlong or
// out-of-range one and for a surrogate.
long decodeSequence(std::string_view bytes, int length) {
    if (length == 0 || bytes.size() < static_cast<size_t>(length)) return -1;
    long codePoint = static_cast<unsigned char>(bytes[0]) & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const unsigned char next = bytes[i];
        if ((next & 0xC0) != 0x80) return -1;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10FFFF) return -1;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return -1;
    return codePoint;
}

void appendUtf8(TUint32 codePoint, std::string& out) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

bool isHighSurrogate(TUint16 unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(TUint16 unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

TUint16 FileUtility::separator() {
    return KSlash;
}

CAppsString FileUtility::convertSeparators(const CAppsString& path) {
    TUint16 from = 0;
    if (separator() == KSlash) {
        from = KBackslash;
    } else if (separator() == KBackslash) {
        from = KSlash;
    } else {
        Z_CHECK(false);
    }
    CAppsString converted = path;
    for (TUint16& unit : converted)
        if (unit == from) unit = separator();
    return converted;
}

CAppsString FileUtility::ensureTrailingSeparator(const CAppsString& path) {
    CAppsString result = path;
    if (result.isEmpty() || !isSeparator(result.last())) result.append(separator());
    return result;
}

CAppsString FileUtility::join(const CAppsString& directory, const CAppsString& name) {
    if (directory.isEmpty()) return name;
    if (name.isEmpty()) return directory;
    CAppsString joined = ensureTrailingSeparator(directory);
    int skip = isSeparator(name[0]) ? 1 : 0;
    joined.append(name.data() + skip, name.size() - skip);
    return joined;
}

TBool FileUtility::isRelative(const CAppsString& path) {
    return path.isEmpty() || !isSeparator(path[0]);
}

CAppsString FileUtility::directoryOf(const CAppsString& path) {
    if (path.isEmpty()) return path;
    const CAppsString converted = convertSeparators(path);
    int last = converted.size() - 1;
    while (last >= 0 && converted[last] != KSlash) --last;
    if (last < 0) return CAppsString(".");
    return CAppsString(converted.data(), last == 0 ? 1 : last);
}

TBool FileUtility::directoryExists(const CAppsString& path) {
    if (path.isEmpty() || isRelative(path)) return EFalse;
    return NativeFiles::isDirectory(nativeFileName(path));
}

TBool FileUtility::makePath(const CAppsString& path) {
    if (path.isEmpty() || isRelative(path)) return EFalse;
    return NativeFiles::makePath(nativeFileName(path));
}

TBool FileUtility::removeFile(const CAppsString& path) {
    const std::string name = nativeFileName(path);
    return !name.empty() && ::unlink(name.c_str()) == 0;
}

CAppsString FileUtility::cleanPath(const CAppsString& path) {
    if (path.isEmpty()) return path;
    const bool absolute = path[0] == KSlash;
    Vec<CAppsString> kept;
    for (const CAppsString& segment : segmentsOf(path)) {
        if (segment.isEmpty() || segment == ".") continue;
        if (segment == ".." && !kept.isEmpty() && !(kept.last() == "..")) {
            kept.removeLast();
        } else {
            kept.append(segment);
        }
    }
    CAppsString cleaned;
    for (const CAppsString& segment : kept) {
        if (absolute || !cleaned.isEmpty()) cleaned.append(KSlash);
        cleaned.append(segment);
    }
    if (cleaned.isEmpty()) return CAppsString(absolute ? "/" : ".");
    return cleaned;
}

CAppsString FileUtility::absolutePath(const CAppsString& path) {
    CAppsString trimmed = path.isEmpty() ? CAppsString(".") : path;
    if (trimmed.size() > 1 && trimmed.last() == KSlash) trimmed.removeLast();
    if (trimmed[0] == KSlash) return isClean(trimmed) ? trimmed : cleanPath(trimmed);
    CAppsString joined = currentDirectory();
    if (!joined.isEmpty()) joined.append(KSlash);
    joined.append(trimmed);
    return cleanPath(joined);
}

CAppsString FileUtility::currentDirectory() {
    char name[PATH_MAX + 1];
    CAppsString decoded;
    if (::getcwd(name, PATH_MAX)) decodeName(name, decoded);
    return decoded;
}

std::string FileUtility::nativeFileName(const CAppsString& path) {
    return encodeName(convertSeparators(path));
}

std::string FileUtility::encodeName(const CAppsString& path) {
    std::string name;
    name.reserve(path.size());
    for (int i = 0; i < path.size(); ++i) {
        const TUint16 unit = path[i];
        if (unit == 0) return std::string();
        if (isHighSurrogate(unit) && i + 1 < path.size() && isLowSurrogate(path[i + 1])) {
            appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (path[++i] - 0xDC00), name);
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            name.push_back('?');
        } else {
            appendUtf8(unit, name);
        }
    }
    return name;
}

bool FileUtility::decodeName(std::string_view name, CAppsString& decoded) {
    decoded.clear();
    decoded.reserve(static_cast<int>(name.size()));
    bool valid = true;
    for (size_t i = 0; i < name.size();) {
        const unsigned char lead = name[i];
        if (lead < 0x80) {
            decoded.append(lead);
            ++i;
            continue;
        }
        const int length = sequenceLength(lead);
        const long codePoint = decodeSequence(name.substr(i), length);
        if (codePoint < 0) {
            decoded.append(KReplacement);
            valid = false;
            ++i;
        } else {
            appendCodePoint(static_cast<TUint32>(codePoint), decoded);
            i += length;
        }
    }
    return valid;
}
