#include "HostFileServices.h"

#include "AppsFileIO.h"
#include "FileUtility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

constexpr TUint16 kSlash = '/';

bool contains(const CAppsString& text, std::u16string_view part) {
    const std::u16string_view whole(reinterpret_cast<const char16_t*>(text.data()), text.size());
    return whole.find(part) != std::u16string_view::npos;
}

// Plain files or directories of a directory, without symbolic links and without the names
// that begin with ".": those are never listed, and so never removed.
QStringList entries(const QString& path, QDir::Filters kind) {
    QStringList names = QDir(path).entryList(kind | QDir::NoSymLinks, QDir::Unsorted);
    names.removeIf([](const QString& name) { return name.startsWith(u'.'); });
    return names;
}

bool isListableDirectory(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

// Files first: a file that stays makes the whole removal fail. Subdirectories go the same way,
// but only the directory's own removal decides the result.
bool removeTree(const QString& path) {
    QDir directory(path);
    for (const QString& file : entries(path, QDir::Files))
        if (!directory.remove(file)) return false;
    for (const QString& child : entries(path, QDir::Dirs)) removeTree(directory.filePath(child));
    return QDir().rmdir(path);
}

} // namespace

HostFileServices::HostFileServices(const CAppsString& applicationDirectory)
    : directory(applicationDirectory) {}

bool HostFileServices::isAcceptableName(const CAppsString& name) {
    return !name.isEmpty() && !contains(name, u"..") && !contains(name, u":") &&
           !contains(name, u"|") && !contains(name, std::u16string_view(u"\0", 1));
}

CAppsString HostFileServices::resolve(const CAppsString& name) const {
    CAppsString relative;
    for (TUint16 unit : name) {
        if (unit == '\\') unit = kSlash;
        if (unit == kSlash && !relative.isEmpty() && relative.last() == kSlash) continue;
        relative.append(unit);
    }
    if (directory.isEmpty()) return relative;
    if (relative.isEmpty()) return directory;
    CAppsString path = directory;
    const bool directoryEndsWithSlash = path.last() == kSlash;
    const bool nameStartsWithSlash = relative[0] == kSlash;
    if (!directoryEndsWithSlash && !nameStartsWithSlash) path.append(kSlash);
    const int skip = directoryEndsWithSlash && nameStartsWithSlash ? 1 : 0;
    path.append(relative.data() + skip, relative.size() - skip);
    return path;
}

ZARNOK::FileOutputStream* HostFileServices::openFileForWriting(const CAppsString& name,
                                                               bool truncate) {
    if (!isAcceptableName(name)) return nullptr;
    const CAppsString path = resolve(name);
    auto stream = std::make_unique<ZARNOK::FileOutputStream>();
    // Appending opens the file where it is and writes after its end: the old contents are
    // never read back and rewritten, so no failure can lose them.
    if (!(truncate ? stream->open(path) : stream->openForAppend(path))) return nullptr;
    return stream.release();
}

ZARNOK::FileInputStream* HostFileServices::openFileForReading(const CAppsString& name) {
    if (!isAcceptableName(name)) return nullptr;
    auto stream = std::make_unique<ZARNOK::FileInputStream>();
    if (!stream->open(resolve(name))) return nullptr;
    return stream.release();
}

bool HostFileServices::deleteFile(const CAppsString& name) {
    if (!isAcceptableName(name)) return false;
    const QString path = FileUtility::toQString(resolve(name));
    return QFile::exists(path) && QFile::remove(path);
}

bool HostFileServices::fileExists(const CAppsString& name) {
    return isAcceptableName(name) && QFile::exists(FileUtility::toQString(resolve(name)));
}

bool HostFileServices::renameFile(const CAppsString& from, const CAppsString& to) {
    if (!isAcceptableName(from) || !isAcceptableName(to)) return false;
    const QString source = FileUtility::toQString(resolve(from));
    const QString target = FileUtility::toQString(resolve(to));
    if (!QDir::isAbsolutePath(source) || !QDir::isAbsolutePath(target)) return false;
    const QString parent = QFileInfo(target).absolutePath();
    if (!QDir(parent).exists() && !QDir().mkpath(parent)) return false;
    return QFile::rename(source, target);
}

bool HostFileServices::listDirectory(const CAppsString& name, Vec<CAppsString>& files,
                                     Vec<CAppsString>& directories) {
    if (!isAcceptableName(name)) return false;
    const QString path = FileUtility::toQString(resolve(name));
    if (!isListableDirectory(path)) return false;
    for (const QString& file : entries(path, QDir::Files))
        files.append(FileUtility::fromQString(file));
    for (const QString& child : entries(path, QDir::Dirs))
        directories.append(FileUtility::fromQString(child));
    return true;
}

bool HostFileServices::createDirectory(const CAppsString& name) {
    return isAcceptableName(name) && QDir().mkpath(FileUtility::toQString(resolve(name)));
}

bool HostFileServices::isApplicationDirectory(const QString& path) const {
    return QDir::cleanPath(path) == QDir::cleanPath(FileUtility::toQString(directory));
}

bool HostFileServices::removeDirectory(const CAppsString& name) {
    if (!isAcceptableName(name)) return false;
    const QString path = FileUtility::toQString(resolve(name));
    // "/" names the application directory itself: removing it would take the image with it.
    if (isApplicationDirectory(path)) return false;
    const QFileInfo info(path);
    // A link is not followed: the removal must not reach outside the application directory.
    if (!QDir::isAbsolutePath(path) || info.isSymLink() || !info.isDir()) return false;
    return removeTree(path);
}

bool HostFileServices::renameDirectory(const CAppsString& from, const CAppsString& to) {
    if (!isAcceptableName(from) || !isAcceptableName(to)) return false;
    const QString source = FileUtility::toQString(resolve(from));
    const QString target = FileUtility::toQString(resolve(to));
    if (isApplicationDirectory(source) || isApplicationDirectory(target)) return false;
    return QDir().rename(source, target);
}

bool HostFileServices::directoryExists(const CAppsString& name) {
    return isAcceptableName(name) && QDir(FileUtility::toQString(resolve(name))).exists();
}
