// The service manager, reached through its own command line program.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace launchctl {

// Where Debian puts systemctl; no search path is trusted.
inline constexpr const char* kSystemctlPaths[] = {"/usr/bin/systemctl", "/bin/systemctl"};

class Systemctl {
 public:
  // The first of kSystemctlPaths that exists; nothing (with *err) when none does.
  static std::optional<Systemctl> Find(std::string* err);
  explicit Systemctl(std::string path) : path_(std::move(path)) {}

  // Runs systemctl with `args`. True when it exited with status 0; otherwise *err holds its
  // own message (its standard error), or why it could not run. *out gets its standard output.
  bool Run(const std::vector<std::string>& args, std::string* out, std::string* err) const;

  bool DaemonReload(std::string* err) const { return Run({"daemon-reload"}, nullptr, err); }

  // Starts the units and waits for their jobs; on failure *err gives systemd's reason.
  bool Start(const std::vector<std::string>& units, std::string* err) const;

  // Properties of a unit (systemctl show -p).
  std::map<std::string, std::string> Show(const std::string& unit,
                                          const std::vector<std::string>& properties) const;

 private:
  std::string path_;
};

}  // namespace launchctl
