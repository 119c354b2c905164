// The machine's IPv4 interface addresses and the interfaces' hardware addresses, kept in four
// process-wide tables for display. A listing: InitAddresses, GetIPAddresses, GetHWAddresses
// (optional), read the tables, FreeAddresses. The tables are unguarded: one listing at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/host.h"
#include "platform/net/interface_records.h"

inline constexpr int kAddressTableSize = 32;

// Entry i of each table describes the same interface. Filled entries run from index 0 up to
// the first whose ip_addrs value is 0. The texts are heap copies (malloc) that the tables own.
extern char* if_names[kAddressTableSize];          // interface name, alias label cut off ("eth0")
extern char* ip_names[kAddressTableSize];          // dotted-decimal IPv4 address
extern std::uint32_t ip_addrs[kAddressTableSize];  // IPv4 address, network byte order; 0 = empty
extern char* hw_addrs[kAddressTableSize];          // "00:1A:2B:0C:04:FF"

// Empties the tables, freeing what they hold (the tables start empty, so this is always safe).
void InitAddresses();

// Frees every text the tables hold and empties them.
void FreeAddresses();

// Lists the IPv4 address of each interface that is up into if_names, ip_names and ip_addrs.
// What the tables held before is freed, hw_addrs included (its entries described the old
// listing). If the configuration cannot be read: perror("ioctl error"), nothing listed.
void GetIPAddresses();

// Fills hw_addrs for the interfaces listed in if_names; what it held before is freed.
// If the configuration cannot be read: perror("ioctl error"), nothing filled.
void GetHWAddresses();

// The scans behind GetIPAddresses and GetHWAddresses, over records in the kernel's order.
// The first record of a run of consecutive records whose names (alias label cut) are equal is
// taken; interfaces that are down are skipped; the scan ends at 32 entries. A link record's
// first six address bytes go to the first listed interface of exactly its name whose hardware
// entry is still empty; a link with fewer than six bytes has no hardware address.
void ScanIPAddresses(const std::vector<platform::InterfaceRecord>& records);
void ScanHWAddresses(const std::vector<platform::InterfaceRecord>& records);

namespace QRBApplication {

// "name: address" for each listed interface whose name does not hold "lo" in any case, in
// table order. Lists afresh and leaves the tables empty.
std::vector<std::string> allIPAddresses();

// The first of allIPAddresses, or nullopt when there is none.
std::optional<std::string> primaryIPAddress();

}  // namespace QRBApplication

namespace QRBHost {

// The host's first address that holds no ":" (its first IPv4 address), or nullopt.
std::optional<std::string> primaryAddress(const platform::Host& host);

}  // namespace QRBHost
