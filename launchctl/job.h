// A job definition as launchd reads it: the keys this launchctl hands on to systemd, with
// launchd's names and meanings. Other keys are ignored, as launchd ignores them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/plist/value.h"

namespace launchctl {

// One listener of the Sockets dictionary.
struct Listener {
  std::string name;                 // the key it stands under in Sockets
  bool datagram = false;            // SockType "dgram"; "stream" otherwise
  std::string service;              // SockServiceName: a name from /etc/services or a number
  std::optional<std::string> node;  // SockNodeName
  std::string family;               // SockFamily: "IPv4", "IPv6", "IPv4v6" or empty
  bool passive = true;              // SockPassive
};

struct Job {
  std::string label;
  std::optional<std::string> program;
  std::vector<std::string> program_arguments;
  bool disabled = false;
  bool run_at_load = false;
  bool keep_alive = false;
  std::optional<std::string> user_name;
  std::optional<std::string> group_name;
  std::optional<bool> init_groups;
  std::optional<std::string> working_directory;
  std::optional<std::string> root_directory;
  std::vector<std::pair<std::string, std::string>> environment;
  std::optional<std::int64_t> umask;
  std::optional<std::int64_t> nice;
  std::optional<std::string> standard_in_path;
  std::optional<std::string> standard_out_path;
  std::optional<std::string> standard_error_path;
  std::vector<Listener> sockets;
  std::optional<bool> inetd_wait;  // inetdCompatibility's Wait; nothing without the key
};

// Takes the job from the root of a definition file. nullopt with *err naming the key when the
// root is no dictionary, Label is missing, or a key holds a value of the wrong type.
std::optional<Job> JobFromPlist(const platform::Value& root, std::string* err);

// Only the label: what unload needs of a definition.
std::optional<std::string> LabelFromPlist(const platform::Value& root, std::string* err);

}  // namespace launchctl
