#pragma once

#include <string>
#include <vector>

// File system calls on the 8-bit names FileUtility::encodeName makes. An empty name names no
// file, so every call on one fails.
namespace NativeFiles {

// Both follow links: a dangling link names nothing.
bool exists(const std::string& name);
bool isDirectory(const std::string& name);
bool isSameFile(const std::string& first, const std::string& second);
// The entry itself. Trailing "/" are not looked at: they would make the system follow a link.
bool isSymbolicLink(const std::string& name);
// Creates the directory and every missing parent; true when it is a directory already.
bool makePath(const std::string& name);

// Moves a file or directory within its file system; an existing target, a dangling link
// included, is never replaced.
bool renameWithoutReplacing(const std::string& from, const std::string& to);
// For a file that cannot be renamed where it is, across file systems say: a copy with the
// same permissions, then the original removed. The copy goes when any step fails, and a
// target that exists, even as a dangling link, is never written.
bool moveByCopying(const std::string& from, const std::string& to);
// A rename between names that differ only in case, through a temporary name: on a file system
// that ignores case, renaming directly would leave the name as it was.
bool renameChangingCase(const std::string& from, const std::string& to);

enum class EntryKind { Files, Directories };
// The plain files or the directories in a directory, in the order the system lists them,
// without "." and "..". Links, devices, pipes and sockets are left out. Empty when the
// directory cannot be read.
std::vector<std::string> entries(const std::string& directory, EntryKind kind);

} // namespace NativeFiles
