#pragma once

#include "CAppsString.h"
#include "Types.h"

#include <QDateTime>
#include <QString>

#include <string>

// Path helpers on 16-bit strings. Operations that touch the disk never raise; they return false.
class FileUtility {
public:
    static TUint16 separator();
    // Turns every foreign separator into the platform one.
    static CAppsString convertSeparators(const CAppsString& path);
    static CAppsString ensureTrailingSeparator(const CAppsString& path);
    static CAppsString join(const CAppsString& directory, const CAppsString& name);
    static TBool isRelative(const CAppsString& path);
    // The directory part of the path ("." for a bare file name).
    static CAppsString directoryOf(const CAppsString& path);
    static TBool directoryExists(const CAppsString& path);
    // Creates the directory and every missing parent.
    static TBool makePath(const CAppsString& path);
    static TBool removeFile(const CAppsString& path);
    // Invalid when the file does not exist.
    static QDateTime modificationTime(const CAppsString& path);

    // The 8-bit name handed to the C library: UTF-8 after separator conversion, so 7-bit paths
    // pass unchanged. Empty for a path with an embedded NUL, which would otherwise name a
    // different, shorter path.
    static std::string nativeFileName(const CAppsString& path);

    static QString toQString(const CAppsString& text);
    static CAppsString fromQString(const QString& text);
};
