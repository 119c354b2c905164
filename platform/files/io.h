// Reading files whole and replacing them atomically.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Reads a whole file. nullopt with a reason in *err when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* err);

// Reads the whole regular file open at `fd`, from its start whatever the file offset; `name`
// stands for it in the reason given in *err.
std::optional<std::string> ReadWholeDescriptor(int fd, const std::string& name, std::string* err);

// Reads a text file: nullopt (with a reason) when it cannot be read or is not valid UTF-8.
std::optional<std::string> ReadTextFile(const std::string& path, std::string* err);

// Replaces the file at `path` with `contents`, atomically: a new file in the same folder, every
// byte written, fsync, the replaced file's mode and owner kept, rename over it, fsync of the
// folder. The new file has no name while it is written (O_TMPFILE, where the file system has
// it), so a process killed meanwhile leaves nothing behind. A symbolic link's target is replaced
// and the link stays. On any failure the original is untouched, the new file is gone, and *err
// names the file and the reason.
bool ReplaceFileAtomically(const std::string& path, std::string_view contents, std::string* err);

// The same with a temporary file named from the start, as on file systems without unnamed
// files. For tests of that path.
bool ReplaceFileThroughNamedTemp(const std::string& path, std::string_view contents,
                                 std::string* err);

// Writes every byte of `bytes` to `fd`. False with a reason ("writing: ...") in *err.
bool WriteAllBytes(int fd, std::string_view bytes, std::string* err);

// Appends `length` bytes of the file open at `from`, starting at `offset`, to the file open at
// `to` (at its file offset), in the kernel (copy_file_range, which shares the blocks where the
// file system can), else through a buffer. False with a reason in *err; a source shorter than
// asked for is one ("the file shrank while it was copied").
bool CopyFileBytes(int from, std::uint64_t offset, std::uint64_t length, int to, std::string* err);

}  // namespace platform
