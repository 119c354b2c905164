#include "tftp-controller/checks/network_findings.h"

#include <gtest/gtest.h>

namespace tftpc {
namespace {

TEST(OpenPortCommands, ForEachFirewallTool) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"firewall-cmd",
       {"firewall-cmd --add-port=69/udp --add-port=5000-5010/udp",
        "firewall-cmd --permanent --add-port=69/udp --add-port=5000-5010/udp"}},
      {"ufw", {"ufw allow 69/udp", "ufw allow 5000:5010/udp"}},
      {"nft",
       {"nft add rule inet filter input udp dport 69 accept",
        "nft add rule inet filter input udp dport 5000-5010 accept"}},
      {"iptables",
       {"iptables -I INPUT -p udp --dport 69 -j ACCEPT",
        "iptables -I INPUT -p udp --dport 5000:5010 -j ACCEPT"}},
      {"", {}},
  };
  for (const auto& [tool, commands] : cases)
    EXPECT_EQ(OpenPortCommands(tool, 69, PortRange{5000, 5010}), commands) << tool;
  EXPECT_EQ(OpenPortCommands("ufw", 1069, std::nullopt),
            std::vector<std::string>{"ufw allow 1069/udp"});
}

}  // namespace
}  // namespace tftpc
