// The diagnosis's findings on the network: the chosen interfaces, and a firewall between the
// service and the devices, with the command that opens the port for the firewall tool found.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tftp-controller/checks/diagnosis.h"

namespace tftpc {

// The commands (as text) that let UDP `port`, and the data ports of `range`, in through the
// firewall `tool` ("firewall-cmd", "ufw", "nft", "iptables"); none for another tool.
std::vector<std::string> OpenPortCommands(const std::string& tool, unsigned port,
                                          const std::optional<PortRange>& range);

// No carrier, no IPv4 address or switched off, for the chosen interface (problems) or for the
// interfaces that are up when every address is served (notes, unless none is usable); an
// address asked for that no interface has.
std::vector<Finding> InterfaceFindings(const DiagnosisFacts& facts);

// Loopback answering while another address does not: a firewall, with the port and the
// command that opens it.
std::vector<Finding> FirewallFindings(const DiagnosisFacts& facts);

}  // namespace tftpc
