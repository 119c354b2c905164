#include "tftp-controller/checks/diagnosis_probes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/files/io.h"
#include "tftp-controller/service/proc_tables.h"

namespace tftpc {
namespace {

constexpr std::string_view kPlantedPrefix = "tftp-controller-probe-";
constexpr std::string_view kMissingPrefix = "tftp-controller-no-such-file-";

constexpr unsigned kLowerUp = 0x10000;  // IFF_LOWER_UP of <linux/if.h>: the link has a carrier

// The first word of a small file of /sys, or "" when it cannot be read.
std::string SysWord(int folder, const std::string& name) {
  auto text = ReadSmallFile(folder, name, 64);
  if (!text) return "";
  return text->substr(0, text->find_first_of(" \n"));
}

std::string RandomHex() {
  std::random_device random;
  char text[17];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  return text;
}

bool Loopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1";
}

// The address of in.tftpd's -a: "[v6]:port", "v4:port" and a bare address give the address.
std::string HostOf(const std::string& listen) {
  if (!listen.empty() && listen.front() == '[') return listen.substr(1, listen.find(']') - 1);
  auto colon = listen.find(':');
  if (colon != std::string::npos && listen.find(':', colon + 1) == std::string::npos)
    return listen.substr(0, colon);
  return listen;
}

}  // namespace

std::vector<InterfaceFacts> InterfacesFrom(const std::vector<platform::InterfaceRecord>& records,
                                           const std::string& sys_class_net) {
  using Kind = platform::InterfaceRecord::Kind;
  platform::OwnedFd sys(::open(sys_class_net.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<InterfaceFacts> interfaces;
  for (const auto& link : records) {
    if (link.kind != Kind::kLink || (link.flags & IFF_LOOPBACK)) continue;
    InterfaceFacts facts;
    facts.name = link.name;
    facts.up = link.flags & IFF_UP;
    // /sys shows the network namespace it was mounted in, which may not be ours: its
    // interface of this name must have our interface's index.
    const std::string index = SysWord(sys.get(), link.name + "/ifindex");
    const unsigned ours = ::if_nametoindex(link.name.c_str());
    const bool same = index.empty() || ours == 0 || index == std::to_string(ours);
    const std::string carrier = same ? SysWord(sys.get(), link.name + "/carrier") : "";
    const std::string state = same ? SysWord(sys.get(), link.name + "/operstate") : "";
    if (!carrier.empty())
      facts.carrier = carrier == "1";
    else if (!state.empty() && state != "unknown")
      facts.carrier = state == "up";
    else
      facts.carrier = link.flags & kLowerUp;
    for (const auto& address : records) {
      if (address.kind != Kind::kIPv4 || address.ipv4 == 0) continue;
      if (address.name != link.name && address.name.rfind(link.name + ":", 0) != 0) continue;
      char text[INET_ADDRSTRLEN];
      if (::inet_ntop(AF_INET, &address.ipv4, text, sizeof text)) facts.ipv4 = text;
      break;
    }
    interfaces.push_back(facts);
  }
  return interfaces;
}

std::string FindFirewallTool(const std::vector<std::string>& folders) {
  for (const char* tool : {"firewall-cmd", "ufw", "nft", "iptables"}) {
    for (const std::string& folder : folders) {
      if (::access((folder + "/" + tool).c_str(), X_OK) == 0) return tool;
    }
  }
  return "";
}

bool IsProbeName(std::string_view file) {
  return file.starts_with(kPlantedPrefix) || file.starts_with(kMissingPrefix);
}

ProbeFile::ProbeFile(const std::string& folder)
    : folder_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  const std::string tag = RandomHex();
  name_ = std::string(kMissingPrefix) + tag;
  if (!folder_.valid()) return;
  const std::string probe = std::string(kPlantedPrefix) + tag;
  platform::OwnedFd file(::openat(folder_.get(), probe.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.valid()) return;
  // Readable by everyone whatever the umask: the server reads it as its own user.
  bytes_ = "A probe of the TFTP controller's diagnosis: " + tag + "\n";
  std::string err;
  if (::fchmod(file.get(), 0644) != 0 || !platform::WriteAllBytes(file.get(), bytes_, &err)) {
    ::unlinkat(folder_.get(), probe.c_str(), 0);
    bytes_.clear();
    return;
  }
  name_ = probe;
  planted_ = true;
}

ProbeFile::~ProbeFile() {
  if (planted_) ::unlinkat(folder_.get(), name_.c_str(), 0);
}

DiagnosisFacts GatherFacts(const ServerOptions& options, const ServiceStatus& status) {
  return GatherFacts(options, status, "");
}

DiagnosisFacts GatherFacts(const ServerOptions& options, const ServiceStatus& status,
                           const std::string& interface) {
  DiagnosisFacts facts;
  facts.status = status;
  facts.folder = options.folder;
  facts.uploads = options.uploads;
  facts.folder_check = CheckFolderAccess(options.folder, options.uploads);
  facts.listen_address = HostOf(options.listen_address);
  // Under xinetd the address served is its bind attribute: the one our server holds.
  if (facts.listen_address.empty() && status.running && !status.addresses.empty() &&
      std::none_of(status.addresses.begin(), status.addresses.end(),
                   [](const std::string& a) { return a == "0.0.0.0" || a == "::"; }))
    facts.listen_address = status.addresses.front();
  facts.port_range = options.port_range;
  facts.firewall_tool = FindFirewallTool();

  std::string err;
  auto records = platform::ReadInterfaceRecords(&err);
  std::vector<InterfaceFacts> all =
      InterfacesFrom(records.value_or(std::vector<platform::InterfaceRecord>{}));
  const std::string& listen = facts.listen_address;
  for (const InterfaceFacts& i : all) {
    if (!interface.empty() ? i.name == interface : !listen.empty() ? i.ipv4 == listen : i.up)
      facts.interfaces.push_back(i);
  }
  facts.interface_chosen = !interface.empty() || (!listen.empty() && !facts.interfaces.empty());
  if (!interface.empty() && facts.interfaces.empty())
    facts.interfaces.push_back({interface, "", false, false});

  std::vector<std::string> addresses;
  if (listen.empty()) {
    addresses.push_back(options.family == AddressFamily::kIPv6Only ? "::1" : "127.0.0.1");
    for (const InterfaceFacts& i : facts.interfaces) {
      if (!i.ipv4.empty() && options.family != AddressFamily::kIPv6Only)
        addresses.push_back(i.ipv4);
    }
  } else {
    addresses.push_back(listen);
  }
  ProbeFile probe(options.folder);
  for (const std::string& address : addresses) {
    FetchFacts fetch;
    fetch.address = address;
    fetch.loopback = Loopback(address);
    fetch.file = probe.name();
    fetch.planted = probe.planted();
    fetch.expected = probe.bytes();
    fetch.result = TftpGet(address, status.port, fetch.file, fetch.timeout);
    facts.fetches.push_back(std::move(fetch));
  }
  return facts;
}

}  // namespace tftpc
