// The new file that takes another's place in a folder, given a name only once it is complete.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// What a replacement keeps of the file it replaces.
struct Original {
  struct stat st {};  // its owner and mode
  std::string acl;    // its access ACL (ReadAccessAcl); empty for none
};

// A file written beside the one it is to replace. An unnamed file (O_TMPFILE) gets a name only
// in Install, just before it is renamed over the old one, so a process killed while writing it
// leaves nothing behind. Where the file system has no unnamed files it is named from the start.
// Either way it is removed again unless installed. Its temporary name is ".NAME.tmp" and 16 hex
// digits: hidden, and with a dot, which programs that read a whole folder of configuration
// files (xinetd's includedir) skip.
class TempFile {
 public:
  enum class Kind { kUnnamed, kNamed };
  enum class Outcome {
    kInstalled,
    kFailed,
    kNotNameable,  // an unnamed file that could not be named here: write a named one instead
  };

  // Creates the file in the open folder `dirfd`, which must stay open while the file lives, to
  // take the place of `name` there. `mode` as for open(2); the umask applies. kUnnamed becomes
  // kNamed where the file system has no unnamed files. nullptr with errno set on failure.
  static std::unique_ptr<TempFile> Create(int dirfd, const std::string& name, mode_t mode,
                                          Kind kind);

  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();  // closes the file and removes it unless it was installed

  int fd() const { return fd_; }
  Kind kind() const { return kind_; }

  // Writes every byte, gives the file the owner, access ACL and mode of `like` (when not null)
  // and syncs it. The ACL is set before the mode: one inherited from the folder's default ACL
  // never gains the old file's group bits as its mask, not even for a moment. false with a
  // reason in *err.
  bool Fill(std::string_view contents, const Original* like, std::string* err);

  // Writes the contents through `write`, given the file's descriptor (at offset 0), which
  // returns false with a reason in its second argument; then as Fill.
  using Writer = std::function<bool(int fd, std::string* err)>;
  bool FillBy(const Writer& write, const Original* like, std::string* err);

  // Closes the file, names it if it has no name yet, and renames it over `name`; with
  // `replaced`, only while `name` still denotes that file (device and inode). On failure *err
  // holds a reason, `name` is untouched and the new file is gone.
  Outcome Install(std::string* err, const struct stat* replaced = nullptr);

 private:
  TempFile(int dirfd, std::string name, Kind kind)
      : dirfd_(dirfd), name_(std::move(name)), kind_(kind) {}
  Outcome GiveName(std::string* err);

  int dirfd_;
  std::string name_;       // the file to replace
  std::string temp_name_;  // our name in the folder while we have one
  Kind kind_;
  int fd_ = -1;
};

// Puts `contents` in place of `name` in the open folder `dirfd` through a TempFile of `kind`
// (written again into a named one when an unnamed one cannot be named here), then syncs the
// folder. `existing`: the file replaced, whose owner, access ACL and mode the new one takes
// exactly, never its folder's default ACL (null for a new file, created 0666 less the umask,
// or as the folder's default ACL says). `replaced`: when not null, the name must
// still denote that file at the rename. False with the reason in *why; when only the folder's
// sync failed, the new contents are in place and *why says so.
bool ReplaceInFolder(int dirfd, const std::string& name, std::string_view contents,
                     const Original* existing, const struct stat* replaced, TempFile::Kind kind,
                     std::string* why);

// The same with the contents written by `write` (which may be called twice: see above).
bool ReplaceInFolder(int dirfd, const std::string& name, const TempFile::Writer& write,
                     const Original* existing, const struct stat* replaced, TempFile::Kind kind,
                     std::string* why);

}  // namespace platform
