// An exclusive advisory lock on a file that is replaced by rename.
#pragma once

#include <optional>
#include <string>

namespace platform {

// Holds an exclusive flock(2) on the file a path names. Since the file is replaced by rename,
// the lock is taken on the open file and the path is checked to still name that same file
// afterwards; if it was replaced meanwhile, the lock is taken again on the new file.
class FileLock {
 public:
  // Blocks until the lock is held. nullopt with a reason when the file cannot be opened.
  static std::optional<FileLock> Acquire(const std::string& path, std::string* err);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();  // releases the lock and closes the descriptor

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace platform
