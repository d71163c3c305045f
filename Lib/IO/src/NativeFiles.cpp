#include "NativeFiles.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool statOf(const std::string& name, struct stat& status) {
    return !name.empty() && ::stat(name.c_str(), &status) == 0;
}

bool isDirectoryNamed(const std::string& name) {
    struct stat status;
    return statOf(name, status) && S_ISDIR(status.st_mode);
}

// After a failed mkdir of name, with its errno: whether the directory is there anyway, its
// missing parents made first when that was the reason.
bool completeMakePath(const std::string& name, int error) {
    if (error == EISDIR) return true;
    if (error == EEXIST) return isDirectoryNamed(name);
    if (error != ENOENT) return false;
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    const std::string parent = name.substr(0, slash);
    if (::mkdir(parent.c_str(), 0777) != 0 && !completeMakePath(parent, errno)) return false;
    if (::mkdir(name.c_str(), 0777) == 0) return true;
    return errno == EEXIST && isDirectoryNamed(name);
}

// Errors after which a link, or a plain rename, would fail the same way or replace the target.
bool renameCannotHelp(int error) {
    switch (error) {
    case EACCES:
    case EEXIST:
    case ENAMETOOLONG:
    case ENOENT:
    case ENOTDIR:
    case EROFS:
    case EXDEV: return true;
    default: return false;
    }
}

// Where renameat2 is not supported: a hard link cannot replace anything, so it comes first.
bool renameByLinking(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return true;
        ::unlink(to.c_str());
        return false;
    }
    return !renameCannotHelp(errno) && std::rename(from.c_str(), to.c_str()) == 0;
}

struct Descriptor {
    int value;
    explicit Descriptor(int descriptor) : value(descriptor) {}
    ~Descriptor() {
        if (value >= 0) ::close(value);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

bool writeAll(int descriptor, const char* bytes, ssize_t count) {
    while (count > 0) {
        const ssize_t written = ::write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

bool copyContents(int source, int target) {
    char block[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(source, block, sizeof block);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return count == 0;
        if (!writeAll(target, block, count)) return false;
    }
}

bool copyFile(const std::string& from, const std::string& to) {
    const Descriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status;
    if (source.value < 0 || ::fstat(source.value, &status) != 0 || S_ISDIR(status.st_mode))
        return false;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    const Descriptor target(::open(to.c_str(), flags, 0666));
    if (target.value < 0) return false;
    const bool copied = copyContents(source.value, target.value) &&
                        ::fchmod(target.value, status.st_mode & 07777) == 0;
    if (!copied) ::unlink(to.c_str());
    return copied;
}

bool isListed(const dirent& entry, int directory, NativeFiles::EntryKind kind) {
    const std::string_view name = entry.d_name;
    if (name == "." || name == "..") return false;
    struct stat status;
    if (::fstatat(directory, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return kind == NativeFiles::EntryKind::Files ? S_ISREG(status.st_mode)
                                                 : S_ISDIR(status.st_mode);
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

} // namespace

bool NativeFiles::exists(const std::string& name) {
    struct stat status;
    return statOf(name, status);
}

bool NativeFiles::isDirectory(const std::string& name) {
    return isDirectoryNamed(name);
}

bool NativeFiles::isSameFile(const std::string& first, const std::string& second) {
    struct stat one, other;
    return statOf(first, one) && statOf(second, other) && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

bool NativeFiles::isSymbolicLink(const std::string& name) {
    const size_t end = name.find_last_not_of('/');
    if (end == std::string::npos) return false;
    struct stat status;
    const std::string entry = name.substr(0, end + 1);
    return ::lstat(entry.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool NativeFiles::makePath(const std::string& name) {
    std::string directory = name;
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    if (directory.empty()) return false;
    return ::mkdir(directory.c_str(), 0777) == 0 || completeMakePath(directory, errno);
}

bool NativeFiles::renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // Some file systems refuse the flag rather than the rename.
    return errno == EINVAL && renameByLinking(from, to);
}

bool NativeFiles::moveByCopying(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty() || !copyFile(from, to)) return false;
    if (::unlink(from.c_str()) == 0) return true;
    ::unlink(to.c_str());
    return false;
}

bool NativeFiles::renameChangingCase(const std::string& from, const std::string& to) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary = from + ".renaming" + std::to_string(attempt);
        if (!renameWithoutReplacing(from, temporary)) continue;
        if (renameWithoutReplacing(temporary, to)) return true;
        renameWithoutReplacing(temporary, from);
        return false;
    }
    return false;
}

std::vector<std::string> NativeFiles::entries(const std::string& directory, EntryKind kind) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, DirectoryCloser> listing(
        directory.empty() ? nullptr : ::opendir(directory.c_str()));
    if (!listing) return names;
    const int descriptor = ::dirfd(listing.get());
    while (const dirent* entry = ::readdir(listing.get()))
        if (isListed(*entry, descriptor, kind)) names.emplace_back(entry->d_name);
    return names;
}
