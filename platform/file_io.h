// Reading files whole and replacing them atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Reads a whole file. nullopt with a reason in *err when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* err);

// Reads a text file: nullopt (with a reason) when it cannot be read or is not valid UTF-8.
std::optional<std::string> ReadTextFile(const std::string& path, std::string* err);

// Replaces the file at `path` with `contents`, atomically: a temporary file in the same folder,
// every byte written, fsync, the replaced file's mode and owner kept, rename over it, fsync of
// the folder. A symbolic link's target is replaced and the link stays. On any failure the
// original is untouched, the temporary file is gone, and *err names the file and the reason.
bool ReplaceFileAtomically(const std::string& path, std::string_view contents, std::string* err);

}  // namespace platform
