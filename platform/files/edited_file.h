// A file edited on behalf of whoever names it, possibly by root in a folder others can write:
// opened once, then locked, read and replaced through descriptors, never by name again.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/owned_fd.h"
#include "platform/files/temp_file.h"

namespace platform {

// The file a path names, opened once relative to a descriptor of its folder. The path is walked
// one component at a time (WalkPath): a symbolic link, as a folder of the path or at its end, is
// followed only where the kernel's protected_symlinks rule allows it, whatever that setting
// is: never a link in a sticky folder others can write that belongs neither to us nor to the
// folder's owner. The file is locked (flock, exclusive) for as long as this
// lives, read through its descriptor, and replaced atomically by a new file written in the
// same folder and renamed over the name, but only while the name still denotes the locked
// file. A folder on the path renamed meanwhile changes nothing; a name that comes to denote
// another file is never written.
class EditedFile {
 public:
  enum class Failure {
    kUnusable,     // missing, not a regular file, a link not to follow: nothing to edit
    kBusy,         // locked by another process for longer than we wait, or fought over
    kNoResources,  // out of descriptors or memory: the file itself may be fine
  };

  // Opens and locks the file `path` names, waiting at most `lock_wait` for another process's
  // lock. nullopt with *failure and a reason in *err (naming the file) otherwise.
  static std::optional<EditedFile> Open(const std::string& path,
                                        std::chrono::milliseconds lock_wait, Failure* failure,
                                        std::string* err);

  EditedFile(EditedFile&&) noexcept = default;
  EditedFile& operator=(EditedFile&&) noexcept = default;
  EditedFile(const EditedFile&) = delete;
  EditedFile& operator=(const EditedFile&) = delete;
  ~EditedFile();  // unlocks

  // The file's status when it was locked.
  const struct stat& status() const { return st_; }

  // The whole file, read through its descriptor. nullopt with a reason in *err.
  std::optional<std::string> Read(std::string* err) const;

  // Reads up to `size` bytes at `offset` into `buf`: the count read, 0 at the end of the
  // file, -1 with a reason in *err.
  long ReadAt(std::uint64_t offset, char* buf, std::size_t size, std::string* err) const;

  // As Replace, with new contents made of the file's own bytes before `keep_before`, then
  // `middle`, then the file's bytes from `keep_from` up to `end`: the unchanged parts are copied
  // in the kernel, never through our memory. Fails, writing nothing, when the file no longer
  // holds `end` bytes.
  bool ReplaceSpliced(std::uint64_t keep_before, std::string_view middle, std::uint64_t keep_from,
                      std::uint64_t end, std::string* err);

  // As Replace, with the new contents written by `write` (perhaps twice: see ReplaceInFolder).
  bool ReplaceBy(const TempFile::Writer& write, std::string* err);

  // Replaces the file with `contents`, keeping its owner and mode: a new file in the same
  // folder, every byte written and synced, renamed over the name while that still denotes the
  // locked file, then the folder synced. On failure the file is untouched (unless only the
  // folder's sync failed, which *err says), nothing is left behind, and *err gives the reason.
  bool Replace(std::string_view contents, std::string* err);

 private:
  EditedFile() = default;

  std::string path_;   // as given, for messages
  std::string shown_;  // the file a link chain ended at, for messages
  OwnedFd dir_;        // the folder holding the file
  std::string name_;   // its name there
  OwnedFd fd_;         // the file, locked
  struct stat st_ {};
};

}  // namespace platform
