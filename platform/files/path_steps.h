// Taking a path apart one step at a time, for code that follows it by descriptors.
#pragma once

#include <sys/stat.h>

#include <string>
#include <utility>

#include "platform/files/owned_fd.h"

namespace platform {

// The folder part and the last component of a path ("a/b" -> "a", "b"; "b" -> ".", "b";
// "/b" -> "/", "b").
std::pair<std::string, std::string> SplitPath(const std::string& path);

// The target of the symbolic link `name` in the folder `dirfd`; empty (errno set) on failure.
std::string ReadLinkAt(int dirfd, const std::string& name);

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxSymlinkHops = 40;

// The kernel's own rule for following a link (fs.protected_symlinks), kept whatever that
// setting is: in a sticky folder anyone may write to, a link is followed only by its owner, or
// when it belongs to the folder's owner. Anyone could have put it there.
bool MayFollowLink(const struct stat& folder, const struct stat& link);

// Where a walk along a path ended: the folder holding its last component and that name.
struct PathEnd {
  OwnedFd dir;        // the folder, open for reading
  std::string name;   // the last component: never empty, "." or ".."
  std::string shown;  // the path as walked (links replaced by their targets), for messages
  bool exists = false;
  struct stat st {};  // the last component's status when it exists; never a link's
};

// Walks `path` from the working folder (or the root) one component at a time: each folder is
// opened relative to the one before it without following a link, and each symbolic link, in a
// folder of the path as at its end, is read and followed here, only where MayFollowLink allows
// it and for at most kMaxSymlinkHops links. A last component that does not exist is no
// failure (`exists` false). False, with errno set and *why naming the place, when the path
// cannot be walked or ends in a folder.
bool WalkPath(const std::string& path, PathEnd* end, std::string* why);

}  // namespace platform
