#include "platform/net/interface_records.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace platform {

std::optional<std::vector<InterfaceRecord>> ReadInterfaceRecords(std::string* err) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    int saved = errno;
    if (err) *err = std::string("getifaddrs: ") + std::strerror(saved);
    errno = saved;
    return std::nullopt;
  }
  std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);
  std::vector<InterfaceRecord> records;
  for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || !ifa->ifa_name) continue;
    InterfaceRecord record;
    record.name = ifa->ifa_name;
    record.flags = ifa->ifa_flags;
    if (ifa->ifa_addr->sa_family == AF_INET) {
      record.kind = InterfaceRecord::Kind::kIPv4;
      record.ipv4 = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
    } else if (ifa->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
      std::size_t length = link->sll_halen;
      if (length > sizeof link->sll_addr) length = sizeof link->sll_addr;
      record.kind = InterfaceRecord::Kind::kLink;
      record.hw.assign(link->sll_addr, link->sll_addr + length);
    } else {
      continue;
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace platform
