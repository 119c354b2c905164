#include "tftp-controller/checks/network_findings.h"

#include <libintl.h>

#include <algorithm>

#include "platform/text/string_format.h"
#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {
namespace {

std::string Joined(const std::vector<std::string>& parts, const std::string& between) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : between) + part;
  return text;
}

bool Loopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

bool Usable(const InterfaceFacts& i) {
  return i.up && i.carrier && !i.ipv4.empty();
}

// What keeps a device from reaching the service over `i`, with its fix, in the order to mend.
std::vector<std::pair<std::string, std::string>> Faults(const InterfaceFacts& i) {
  std::vector<std::pair<std::string, std::string>> faults;
  if (!i.up)
    faults.push_back({Say(_("%@ is switched off."), {i.name}),
                      Say(_("Switch it on in the network settings, or as root run: ip link set "
                            "%@ up"),
                          {i.name})});
  else if (!i.carrier)
    faults.push_back(
        {Say(_("%@ has no carrier: no cable is plugged in, or the device at its other end is "
               "off."),
             {i.name}),
         _("Plug the cable in and switch the device on.")});
  if (i.ipv4.empty())
    faults.push_back(
        {Say(_("%@ has no IPv4 address, so a device cannot reach the service over it."), {i.name}),
         Say(_("Give it a fixed address in the network settings, or as root run (with an "
               "address of the device's network): ip address add 192.168.100.1/24 dev %@"),
             {i.name})});
  return faults;
}

}  // namespace

std::vector<std::string> OpenPortCommands(const std::string& tool, unsigned port,
                                          const std::optional<PortRange>& range) {
  const std::string p = std::to_string(port);
  const std::string first = range ? std::to_string(range->first) : "";
  const std::string last = range ? std::to_string(range->last) : "";
  if (tool == "firewall-cmd") {
    std::string ports = "--add-port=" + p + "/udp";
    if (range) ports += " --add-port=" + first + "-" + last + "/udp";
    return {"firewall-cmd " + ports, "firewall-cmd --permanent " + ports};
  }
  std::vector<std::string> commands;
  auto add = [&](const std::string& before, const std::string& ports, const std::string& after) {
    commands.push_back(before + ports + after);
  };
  if (tool == "ufw") {
    add("ufw allow ", p, "/udp");
    if (range) add("ufw allow ", first + ":" + last, "/udp");
  } else if (tool == "nft") {
    add("nft add rule inet filter input udp dport ", p, " accept");
    if (range) add("nft add rule inet filter input udp dport ", first + "-" + last, " accept");
  } else if (tool == "iptables") {
    add("iptables -I INPUT -p udp --dport ", p, " -j ACCEPT");
    if (range) add("iptables -I INPUT -p udp --dport ", first + ":" + last, " -j ACCEPT");
  }
  return commands;
}

std::vector<Finding> InterfaceFindings(const DiagnosisFacts& facts) {
  std::vector<Finding> findings;
  const std::string& asked = facts.listen_address;
  if (!asked.empty() && !Loopback(asked) && asked.find(':') == std::string::npos &&
      std::none_of(facts.interfaces.begin(), facts.interfaces.end(),
                   [&](const InterfaceFacts& i) { return i.ipv4 == asked; }))
    findings.push_back(
        {_("The address listened on"), Verdict::kProblem,
         Say(_("No interface has the address %@ that the service listens on."), {asked}),
         _("Choose another address under Listen on, or every address.")});
  for (const InterfaceFacts& i : facts.interfaces) {
    const std::string check = Say(_("Interface %@"), {i.name});
    auto faults = Faults(i);
    if (faults.empty())
      findings.push_back({check, Verdict::kOk,
                          Say(_("%@ is up, has a carrier and the address %@."), {i.name, i.ipv4}),
                          ""});
    for (auto& [explanation, fix] : faults)
      findings.push_back(
          {check, facts.interface_chosen ? Verdict::kProblem : Verdict::kNote, explanation, fix});
  }
  if (!facts.interface_chosen && asked.empty() &&
      std::none_of(facts.interfaces.begin(), facts.interfaces.end(), Usable))
    findings.push_back({_("The network"), Verdict::kProblem,
                        _("No interface but loopback is up with a carrier and an IPv4 address: "
                          "no device can reach the service."),
                        _("Connect this machine to the device's network (a cable, or the same "
                          "switch), and give its interface an address.")});
  return findings;
}

std::vector<Finding> FirewallFindings(const DiagnosisFacts& facts) {
  const auto& fetches = facts.fetches;
  auto loopback = std::find_if(fetches.begin(), fetches.end(),
                               [](const FetchFacts& f) { return f.loopback && f.result.answered; });
  std::vector<std::string> silent, answered;
  for (const FetchFacts& f : fetches) {
    if (!f.loopback) (f.result.answered ? answered : silent).push_back(f.address);
  }
  if (loopback == fetches.end() || (silent.empty() && answered.empty())) return {};

  const std::string port = std::to_string(facts.status.port);
  std::string open;
  auto commands = OpenPortCommands(facts.firewall_tool, facts.status.port, facts.port_range);
  if (!commands.empty())
    open = Say(_("As root, run:\n%@"), {Joined(commands, "\n")});
  else if (facts.port_range)
    open = Say(
        _("Open UDP port %@ and the data ports %@ to %@ in the firewall that runs here (none "
          "of firewall-cmd, ufw, nft and iptables was found)."),
        {port, std::to_string(facts.port_range->first), std::to_string(facts.port_range->last)});
  else
    open = Say(_("Open UDP port %@ in the firewall that runs here (none of firewall-cmd, ufw, nft "
                 "and iptables was found)."),
               {port});
  if (!silent.empty())
    return {{_("A firewall"), Verdict::kProblem,
             Say(_("Loopback (%@) answers but %@ does not: a firewall most likely drops UDP port "
                   "%@ there."),
                 {loopback->address, Joined(silent, ", "), port}),
             open}};
  return {{_("A firewall"), Verdict::kNote,
           Say(_("Every address answered from this machine. A firewall may still drop what "
                 "comes from other machines: if a device gets no answer, open UDP port %@."),
               {port}),
           open}};
}

}  // namespace tftpc
