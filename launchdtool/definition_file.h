// Decides whether a daemon definition file may be handed to launchctl by root on behalf of
// whoever started us.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

enum class DefinitionCheck {
  kTrusted,   // a regular file only root can change, in folders only root can change
  kNotFound,  // missing or unreadable
  kRefused,   // exists, but someone other than root could change it or what its name denotes
};

// Whoever started us, as the kernel knew them before we became root.
struct Caller {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
};

// Checks `path` with the file-system rights of `caller` (the file-system user and group ids and
// the supplementary groups are the caller's for the time of the check; our effective ids stay
// root's): a name the caller cannot reach or read is kNotFound, so nothing the caller could not
// see is learnt through us. On kTrusted, *resolved holds its full name with every symbolic
// link, "." and ".." resolved: that is the name to hand on, since no one but root can change
// what it denotes. On kRefused, *reason says why. Must run as root.
DefinitionCheck CheckDefinitionFile(const std::string& path, const Caller& caller,
                                    std::string* resolved, std::string* reason);
