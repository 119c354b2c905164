// Decides whether a daemon definition file may be handed to launchctl by root on behalf of
// whoever started us.
#pragma once

#include <string>

enum class DefinitionCheck {
  kTrusted,   // a regular file only root can change, in folders only root can change
  kNotFound,  // missing or unreadable
  kRefused,   // exists, but someone other than root could change it or what its name denotes
};

// Checks `path`. On kTrusted, *resolved holds its full name with every symbolic link, "." and
// ".." resolved: that is the name to hand on, since no one but root can change what it denotes.
// On kRefused, *reason says why.
DefinitionCheck CheckDefinitionFile(const std::string& path, std::string* resolved,
                                    std::string* reason);
