#include "HostFileServices.h"

#include "AppsFileIO.h"
#include "FileUtility.h"
#include "NativeFiles.h"

#include <memory>
#include <unistd.h>

namespace {

constexpr TUint16 kSlash = '/';

bool contains(const CAppsString& text, std::u16string_view part) {
    const std::u16string_view whole(reinterpret_cast<const char16_t*>(text.data()), text.size());
    return whole.find(part) != std::u16string_view::npos;
}

std::string native(const CAppsString& path) {
    return FileUtility::encodeName(path);
}

bool isAbsolute(const CAppsString& path) {
    return !path.isEmpty() && path[0] == kSlash;
}

CAppsString childOf(const CAppsString& path, const CAppsString& name) {
    CAppsString child = path;
    if (child.isEmpty() || child.last() != kSlash) child.append(kSlash);
    child.append(name);
    return child;
}

// The directory a rename puts its target in. A target ending in "/" names that directory
// itself, which is then made, and the rename refused for its target existing.
CAppsString parentOf(const CAppsString& target) {
    const CAppsString clean = FileUtility::cleanPath(target);
    if (target.last() == kSlash) return clean;
    int last = clean.size() - 1;
    while (last > 0 && clean[last] != kSlash) --last;
    return CAppsString(clean.data(), last == 0 ? 1 : last);
}

bool equalIgnoringCase(const CAppsString& first, const CAppsString& second) {
    const auto lower = [](TUint16 unit) { return unit >= 'A' && unit <= 'Z' ? unit + 32 : unit; };
    if (first.size() != second.size()) return false;
    for (int i = 0; i < first.size(); ++i)
        if (lower(first[i]) != lower(second[i])) return false;
    return true;
}

// Files and directories alike. An existing target is never replaced, unless it is the source
// under a name that differs only in case; a file the system cannot rename is copied.
bool move(const CAppsString& source, const CAppsString& target) {
    if (source == target) return false;
    const std::string from = native(source);
    const std::string to = native(target);
    if (!NativeFiles::exists(from)) return false;
    if (NativeFiles::exists(to))
        return NativeFiles::isSameFile(from, to) && equalIgnoringCase(source, target) &&
               NativeFiles::renameChangingCase(from, to);
    return NativeFiles::renameWithoutReplacing(from, to) || NativeFiles::moveByCopying(from, to);
}

// Plain files or directories of a directory, without symbolic links and without the names
// that begin with ".": those are never listed, and so never removed. Nor are names that are
// not UTF-8, which no application could name.
Vec<CAppsString> entries(const CAppsString& path, NativeFiles::EntryKind kind) {
    Vec<CAppsString> names;
    for (const std::string& entry : NativeFiles::entries(native(path), kind)) {
        CAppsString name;
        if (entry[0] != '.' && FileUtility::decodeName(entry, name)) names.append(name);
    }
    return names;
}

bool isListableDirectory(const CAppsString& path) {
    const std::string name = native(path);
    return NativeFiles::isDirectory(name) && ::access(name.c_str(), R_OK) == 0 &&
           ::access(name.c_str(), X_OK) == 0;
}

// Files first: a file that stays makes the whole removal fail. Subdirectories go the same way,
// but only the directory's own removal decides the result.
bool removeTree(const CAppsString& path) {
    for (const CAppsString& file : entries(path, NativeFiles::EntryKind::Files))
        if (::unlink(native(childOf(path, file)).c_str()) != 0) return false;
    for (const CAppsString& child : entries(path, NativeFiles::EntryKind::Directories))
        removeTree(childOf(path, child));
    const std::string name = native(path);
    return !name.empty() && ::rmdir(name.c_str()) == 0;
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
    const std::string path = native(resolve(name));
    return NativeFiles::exists(path) && ::unlink(path.c_str()) == 0;
}

bool HostFileServices::fileExists(const CAppsString& name) {
    return isAcceptableName(name) && NativeFiles::exists(native(resolve(name)));
}

bool HostFileServices::renameFile(const CAppsString& from, const CAppsString& to) {
    if (!isAcceptableName(from) || !isAcceptableName(to)) return false;
    const CAppsString source = resolve(from);
    const CAppsString target = resolve(to);
    if (!isAbsolute(source) || !isAbsolute(target)) return false;
    const std::string parent = native(parentOf(target));
    if (!NativeFiles::isDirectory(parent) && !NativeFiles::makePath(parent)) return false;
    return move(source, target);
}

bool HostFileServices::listDirectory(const CAppsString& name, Vec<CAppsString>& files,
                                     Vec<CAppsString>& directories) {
    if (!isAcceptableName(name)) return false;
    const CAppsString path = resolve(name);
    if (!isListableDirectory(path)) return false;
    for (const CAppsString& file : entries(path, NativeFiles::EntryKind::Files)) files.append(file);
    for (const CAppsString& child : entries(path, NativeFiles::EntryKind::Directories))
        directories.append(child);
    return true;
}

bool HostFileServices::createDirectory(const CAppsString& name) {
    return isAcceptableName(name) && NativeFiles::makePath(native(resolve(name)));
}

bool HostFileServices::isApplicationDirectory(const CAppsString& path) const {
    return FileUtility::cleanPath(path) == FileUtility::cleanPath(directory);
}

bool HostFileServices::passesThroughLink(const CAppsString& name) const {
    CAppsString path = directory;
    CAppsString segment;
    for (int i = 0; i <= name.size(); ++i) {
        const bool ends = i == name.size() || name[i] == kSlash || name[i] == '\\';
        if (!ends) {
            segment.append(name[i]);
            continue;
        }
        if (!segment.isEmpty() && !(segment == ".")) {
            path = childOf(path, segment);
            if (NativeFiles::isSymbolicLink(native(path))) return true;
        }
        segment.clear();
    }
    return false;
}

bool HostFileServices::removeDirectory(const CAppsString& name) {
    if (!isAcceptableName(name)) return false;
    const CAppsString path = resolve(name);
    // "/" names the application directory itself: removing it would take the image with it.
    if (isApplicationDirectory(path)) return false;
    if (!isAbsolute(path) || passesThroughLink(name) || !NativeFiles::isDirectory(native(path)))
        return false;
    return removeTree(path);
}

bool HostFileServices::renameDirectory(const CAppsString& from, const CAppsString& to) {
    if (!isAcceptableName(from) || !isAcceptableName(to)) return false;
    const CAppsString source = resolve(from);
    const CAppsString target = resolve(to);
    if (isApplicationDirectory(source) || isApplicationDirectory(target)) return false;
    return move(source, target);
}

bool HostFileServices::directoryExists(const CAppsString& name) {
    return isAcceptableName(name) && NativeFiles::isDirectory(native(resolve(name)));
}
