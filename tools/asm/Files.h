#pragma once

#include <string>

// Whole-file reads and writes for the command-line tools.

// False when the file cannot be opened or read to its end (a directory, a read error).
bool readWholeFile(const std::string& path, std::string& contents);

// Writes beside the target and renames it into place, so that a failed write leaves no
// partial file behind.
bool writeWholeFile(const std::string& path, const std::string& contents);
