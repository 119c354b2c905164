// The jobs launchctl loaded from job definitions, read back from the marks on their systemd units
// (world-readable files), and the datagram addresses their socket units listen on.
#pragma once

#include <string>
#include <vector>

namespace tftpc {

inline constexpr const char* kLaunchdUnitMarker = "# Made by launchctl from a job definition";

struct LaunchdListener {
  std::string address;  // "0.0.0.0", "::", "192.0.2.7"; "::" for a socket on both families
  unsigned port = 0;
  bool operator==(const LaunchdListener&) const = default;
};

struct LaunchdJob {
  std::string label;
  std::string definition;          // the job definition's path, which "launchdtool unload" takes
  std::vector<std::string> units;  // "org.qrb.tftp.socket", "org.qrb.tftp.service"
  std::vector<LaunchdListener> datagram;  // ListenDatagram= of its socket unit
  bool operator==(const LaunchdJob&) const = default;
};

// The address and port of a ListenDatagram= value ("69", "0.0.0.0:69", "[::]:69",
// "[2001:db8::1]:69"); false for a path, an interface name or anything else.
bool ParseListenDatagram(const std::string& value, LaunchdListener* listener);

// The marked units of the folders (files only, no symbolic links), grouped by label and
// definition, in the order of their labels.
std::vector<LaunchdJob> ReadLaunchdJobs(const std::vector<std::string>& folders);

// The same, read again only when a folder changed (its modification time, or the folder itself):
// launchctl links a new unit into place and removes it by name, both of which change the folder.
// May be called from any thread.
std::vector<LaunchdJob> CachedLaunchdJobs(const std::vector<std::string>& folders);

// Of `jobs`, those with a datagram socket on `port`.
std::vector<LaunchdJob> JobsOnPort(const std::vector<LaunchdJob>& jobs, unsigned port);

// True when `unit` (a process's unit, from its cgroup) is one of the job's: its name, or an
// instance of its "NAME@.service".
bool JobOwnsUnit(const LaunchdJob& job, const std::string& unit);

}  // namespace tftpc
