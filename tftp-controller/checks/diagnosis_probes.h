// What the diagnosis looks at besides the service: the network interfaces, the firewall tool
// installed, and a probe file planted in the served folder for a real fetch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/files/owned_fd.h"
#include "platform/net/interface_records.h"
#include "tftp-controller/checks/diagnosis.h"

namespace tftpc {

// Every interface but loopback, from the kernel's records: switched on (IFF_UP), its first IPv4
// address, and its carrier from `sys_class_net`/NAME/carrier (unreadable while the interface is
// down), else its operstate, else the record's lower-up flag, which is all that counts when
// /sys belongs to another network namespace (its NAME/ifindex is not our interface's).
std::vector<InterfaceFacts> InterfacesFrom(const std::vector<platform::InterfaceRecord>& records,
                                           const std::string& sys_class_net = "/sys/class/net");

// The firewall tool installed, by preference: firewall-cmd and ufw keep rules of their own, so
// they go before nft and iptables. Empty when none is found in `folders`.
std::string FindFirewallTool(const std::vector<std::string>& folders = {"/usr/sbin", "/sbin",
                                                                        "/usr/bin", "/bin"});

// A file of ours put in the served folder for the server to send back, removed when the object
// goes away. Not planted (and a name that does not exist chosen) when the folder is not the
// user's to write.
// True for the name of a file the diagnosis asks for (planted or missing), so that its own
// fetches need not be shown among the transfers.
bool IsProbeName(std::string_view file);

class ProbeFile {
 public:
  explicit ProbeFile(const std::string& folder);
  ProbeFile(const ProbeFile&) = delete;
  ProbeFile& operator=(const ProbeFile&) = delete;
  ~ProbeFile();

  bool planted() const { return planted_; }
  const std::string& name() const { return name_; }
  const std::string& bytes() const { return bytes_; }

 private:
  platform::OwnedFd folder_;
  bool planted_ = false;
  std::string name_, bytes_;
};

}  // namespace tftpc
