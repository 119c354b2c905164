#include "utility/network_addresses.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

char* if_names[kAddressTableSize];
char* ip_names[kAddressTableSize];
std::uint32_t ip_addrs[kAddressTableSize];
char* hw_addrs[kAddressTableSize];

namespace {

// Interface names are compared on this many bytes, the size of the kernel's name field.
constexpr std::size_t kNameBytes = 16;

void Release(char** entry) {
  std::free(*entry);
  *entry = nullptr;
}

void ClearIPEntries() {
  for (int i = 0; i < kAddressTableSize; ++i) {
    Release(&if_names[i]);
    Release(&ip_names[i]);
    ip_addrs[i] = 0;
  }
}

void ClearHWEntries() {
  for (char*& entry : hw_addrs) Release(&entry);
}

// Reads the kernel's records; on failure reports as the listing always has and gives none.
std::optional<std::vector<platform::InterfaceRecord>> KernelRecords() {
  std::string err;
  auto records = platform::ReadInterfaceRecords(&err);
  if (!records) std::perror("ioctl error");
  return records;
}

}  // namespace

void InitAddresses() {
  FreeAddresses();
}

void FreeAddresses() {
  ClearIPEntries();
  ClearHWEntries();
}

void ScanIPAddresses(const std::vector<platform::InterfaceRecord>& records) {
  // A new listing gives indexes new meanings, so old hardware entries go too.
  ClearIPEntries();
  ClearHWEntries();
  std::string previous;  // the last name seen, alias label cut
  int i = 0;
  for (const platform::InterfaceRecord& record : records) {
    if (i == kAddressTableSize) break;
    if (record.kind != platform::InterfaceRecord::Kind::kIPv4) continue;
    std::string name(record.name.c_str());  // as a C string: up to any zero byte
    if (std::size_t colon = name.find(':'); colon != std::string::npos) name.resize(colon);
    if (std::strncmp(name.c_str(), previous.c_str(), kNameBytes) == 0) continue;
    previous = name.substr(0, kNameBytes);
    if (!(record.flags & IFF_UP)) continue;
    // An address of 0 would read as the end of the list and hide the entries after it.
    if (record.ipv4 == 0) continue;
    char dotted[INET_ADDRSTRLEN];
    in_addr address{record.ipv4};
    if (!inet_ntop(AF_INET, &address, dotted, sizeof dotted)) continue;
    if_names[i] = strdup(name.c_str());
    ip_names[i] = strdup(dotted);
    if (!if_names[i] || !ip_names[i]) {  // out of memory: keep what was listed so far
      Release(&if_names[i]);
      Release(&ip_names[i]);
      break;
    }
    ip_addrs[i] = record.ipv4;
    ++i;
  }
}

void ScanHWAddresses(const std::vector<platform::InterfaceRecord>& records) {
  ClearHWEntries();
  for (const platform::InterfaceRecord& record : records) {
    if (record.kind != platform::InterfaceRecord::Kind::kLink || record.hw.size() < 6) continue;
    const std::vector<std::uint8_t>& hw = record.hw;
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", hw[0], hw[1], hw[2], hw[3],
                  hw[4], hw[5]);
    for (int j = 0; j < kAddressTableSize; ++j) {
      if (!if_names[j] || hw_addrs[j] || std::strcmp(if_names[j], record.name.c_str()) != 0) {
        continue;
      }
      hw_addrs[j] = strdup(text);
      if (!hw_addrs[j]) return;  // out of memory: keep what was filled so far
      break;
    }
  }
}

void GetIPAddresses() {
  ClearIPEntries();
  ClearHWEntries();
  if (auto records = KernelRecords()) ScanIPAddresses(*records);
}

void GetHWAddresses() {
  ClearHWEntries();
  if (auto records = KernelRecords()) ScanHWAddresses(*records);
}

namespace QRBApplication {

std::vector<std::string> allIPAddresses() {
  FreeAddresses();
  GetIPAddresses();
  std::vector<std::string> addresses;
  for (int i = 0; i < kAddressTableSize && ip_addrs[i] != 0; ++i) {
    if (strcasestr(if_names[i], "lo")) continue;  // loopback, by the name alone
    addresses.push_back(std::string(if_names[i]) + ": " + ip_names[i]);
  }
  FreeAddresses();
  return addresses;
}

std::optional<std::string> primaryIPAddress() {
  std::vector<std::string> addresses = allIPAddresses();
  if (addresses.empty()) return std::nullopt;
  return addresses.front();
}

}  // namespace QRBApplication

namespace QRBHost {

std::optional<std::string> primaryAddress(const platform::Host& host) {
  for (const std::string& address : host.addresses()) {
    if (address.find(':') == std::string::npos) return address;
  }
  return std::nullopt;
}

}  // namespace QRBHost
