// The kernel's interface configuration as a list of records: one per IPv4 address (named by
// its label, so an alias reads "eth0:1") and one per link-level address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct InterfaceRecord {
  enum class Kind { kIPv4, kLink };

  Kind kind = Kind::kIPv4;
  std::string name;              // the label for an IPv4 record, the interface name for a link
  unsigned flags = 0;            // the interface's IFF_* flags
  std::uint32_t ipv4 = 0;        // kIPv4: the address, network byte order
  std::vector<std::uint8_t> hw;  // kLink: the link-level address bytes (none for some links)
};

// The records in the kernel's order (getifaddrs: links first, then addresses by interface).
// Records of other families (IPv6) are left out. nullopt with errno set and a reason in *err
// when the configuration cannot be read.
std::optional<std::vector<InterfaceRecord>> ReadInterfaceRecords(std::string* err);

}  // namespace platform
