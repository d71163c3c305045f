#pragma once

#include "CAppsString.h"
#include "Types.h"

#include <string>
#include <string_view>

// Path helpers on 16-bit strings. Operations that touch the disk never raise; they return false.
class FileUtility {
public:
    static TUint16 separator();
    // Turns every foreign separator into the platform one.
    static CAppsString convertSeparators(const CAppsString& path);
    static CAppsString ensureTrailingSeparator(const CAppsString& path);
    static CAppsString join(const CAppsString& directory, const CAppsString& name);
    static TBool isRelative(const CAppsString& path);
    // The directory part of the path ("." for a bare file name, empty for an empty path).
    static CAppsString directoryOf(const CAppsString& path);
    static TBool directoryExists(const CAppsString& path);
    // Creates the directory and every missing parent.
    static TBool makePath(const CAppsString& path);
    static TBool removeFile(const CAppsString& path);

    // Without "." segments and repeated or trailing "/"; ".." takes away the segment before it
    // where there is one. Only the text counts: links are not resolved, "\" is no separator.
    static CAppsString cleanPath(const CAppsString& path);
    // Made absolute against the working directory, then cleaned. An absolute path that is
    // clean but for one trailing "/" after the first is dropped keeps it: "/a//" gives "/a/".
    static CAppsString absolutePath(const CAppsString& path);
    // Empty when the system cannot tell it.
    static CAppsString currentDirectory();

    // The 8-bit name handed to the C library: UTF-8 after separator conversion, so 7-bit paths
    // pass unchanged. Empty for a path with an embedded NUL, which would otherwise name a
    // different, shorter path.
    static std::string nativeFileName(const CAppsString& path);
    // The same without separator conversion. A lone surrogate becomes "?".
    static std::string encodeName(const CAppsString& path);
    // False when the name is not UTF-8; each byte that starts no valid sequence then decodes
    // to U+FFFD. Characters beyond 16 bits become surrogate pairs.
    static bool decodeName(std::string_view name, CAppsString& decoded);
};
