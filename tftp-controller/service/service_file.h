// service_file.h — reading /etc/xinetd.d/tftp (world-readable) as the user
//
// The file is read as xinetd reads it, for the one service named tftp: lines end at LF (a CR
// before it is dropped), a line whose first non-blank character is # is a comment, and inside
// `service tftp { ... }` each line is `name = value` (blanks around). The first such line of a
// name counts. `name += value` and `name -= value` (which xinetd reads as adding to, or taking
// from, an earlier value) are not followed for server_args or disable: the value stays the one
// of the `=` line, and `problem` says the controller cannot change this file.
#pragma once

#include <string>

namespace tftpc {

struct ServiceDefinition {
  bool found = false;
  bool disabled = true;  // "disable = yes", or any value but "no"; no disable line: false
  std::string server_args;
  // Added for the checks and the back end:
  unsigned port = 69;  // "port = N"; the service's own port otherwise
  std::string bind;    // "bind = ADDRESS" (xinetd's "interface" too); empty: every address
  // Why configtool cannot change server_args and disable here, in words for the user; empty
  // when it can. configtool edits the first line of the file that mentions the name, so that
  // line must be the service's own `name = value`; and a value it replaces must not be empty.
  std::string problem;
};
ServiceDefinition ReadServiceDefinition(const std::string& path = "/etc/xinetd.d/tftp");

}  // namespace tftpc
