#include "FileUtility.h"

#include "ErrorHandling.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr TUint16 KSlash = '/';
constexpr TUint16 KBackslash = '\\';

bool isSeparator(TUint16 unit) {
    return unit == KSlash || unit == KBackslash;
}

QString qtPath(const CAppsString& path) {
    return FileUtility::toQString(FileUtility::convertSeparators(path));
}

} // namespace

TUint16 FileUtility::separator() {
    static const TUint16 platformSeparator = QDir::separator().unicode();
    return platformSeparator;
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
    return QFileInfo(qtPath(path)).isRelative();
}

CAppsString FileUtility::directoryOf(const CAppsString& path) {
    return fromQString(QFileInfo(qtPath(path)).path());
}

TBool FileUtility::directoryExists(const CAppsString& path) {
    if (path.isEmpty() || isRelative(path)) return EFalse;
    return QDir(qtPath(path)).exists();
}

TBool FileUtility::makePath(const CAppsString& path) {
    if (path.isEmpty() || isRelative(path)) return EFalse;
    return QDir().mkpath(qtPath(path));
}

TBool FileUtility::removeFile(const CAppsString& path) {
    return QFile(qtPath(path)).remove();
}

QDateTime FileUtility::modificationTime(const CAppsString& path) {
    return QFileInfo(qtPath(path)).lastModified();
}

std::string FileUtility::nativeFileName(const CAppsString& path) {
    for (TUint16 unit : path)
        if (unit == 0) return std::string();
    QByteArray utf8 = qtPath(path).toUtf8();
    return std::string(utf8.constData(), utf8.size());
}

QString FileUtility::toQString(const CAppsString& text) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

CAppsString FileUtility::fromQString(const QString& text) {
    return CAppsString(reinterpret_cast<const TUint16*>(text.utf16()), text.size());
}
