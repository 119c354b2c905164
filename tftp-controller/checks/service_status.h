// The state of our TFTP service, as an ordinary user can see it: the service file, xinetd's pid
// file and the holders of the port.
#pragma once

#include <string>
#include <vector>

#include "tftp-controller/checks/port_holders.h"

namespace tftpc {

struct ServiceStatus {
  bool running = false;  // our service is enabled, xinetd runs, and port 69 is held by ours
  bool xinetd_running = false;
  bool enabled = false;        // disable = no
  std::string listen_address;  // "every address" when -a is not given
  unsigned port = 69;
  std::vector<PortHolder> others;  // holders of port 69 that are not ours
  std::string
      text;  // one line beginning "Running" or "Stopped", e.g. "Running on every address, port 69"
  // The local addresses our holders are bound to ("0.0.0.0", "::", "192.168.1.5"), where xinetd
  // listens (its bind attribute, not in.tftpd's -a, says where).
  std::vector<std::string> addresses;
  bool operator==(const ServiceStatus&) const = default;
};

struct StatusSources {
  std::string proc = "/proc";
  std::string pid_file = "/var/run/xinetd.pid";
  std::string service_file = "/etc/xinetd.d/tftp";
  // Where launchctl puts the units of loaded jobs (load, then load -w).
  std::vector<std::string> launchd_folders = {"/run/systemd/system", "/etc/systemd/system"};
};

// "port 69 is held by in.tftpd (tftpd-hpa.service), dnsmasq (pid 812)": a program on both
// families is named once.
std::string HoldersText(const std::vector<PortHolder>& holders, unsigned port);

// Our service runs when the service file enables it, the pid file names a live xinetd, and that
// xinetd (or an in.tftpd it started) holds the service's port; the address is the one it holds.
ServiceStatus ReadServiceStatus(const StatusSources& sources = {});  // cheap: called every second

}  // namespace tftpc
