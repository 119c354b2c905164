// Who holds a UDP port: the sockets bound to it (/proc/net/udp and udp6, in any state) and the
// processes that hold them. Cheap enough to be called every second: the processes are found by
// their names first, and only those few are looked at closely.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tftpc {

struct PortHolder {
  std::string local_address;  // "0.0.0.0", "::", "192.168.1.5"
  unsigned port = 69;
  uid_t uid = 0;             // the socket's owner
  pid_t pid = 0;             // 0 when it cannot be seen (another user's process)
  std::string program;       // "in.tftpd", "xinetd", "dnsmasq"... ; empty when unknown
  std::string systemd_unit;  // "tftpd-hpa.service" when its cgroup says so; else empty
  bool ours = false;         // xinetd from /var/run/xinetd.pid, or an in.tftpd it started
  // A job loaded by launchctl whose socket systemd holds (or whose server runs): its label and
  // definition ("launchdtool unload" takes the definition); else empty.
  std::string launchd_label;
  std::string launchd_definition;
  bool operator==(const PortHolder&) const = default;
};

// May be called from any thread.
std::vector<PortHolder> UdpPortHolders(unsigned port = 69, const std::string& proc = "/proc");

// The same with xinetd's pid file named. A socket's holder is the process that has it open; of a
// parent and the child it handed the socket to (xinetd and in.tftpd), the parent. Where no
// process that may be inspected holds it (another user's, root's), the holder is guessed among
// the server programs whose descriptors are hidden: a TFTP server in a systemd service of its
// own, then ours, then another in a service; none of these: pid 0.
std::vector<PortHolder> UdpPortHolders(unsigned port, const std::string& proc,
                                       const std::string& pid_file);

}  // namespace tftpc
