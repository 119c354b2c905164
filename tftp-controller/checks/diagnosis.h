// Why a device cannot fetch files from the service. The rules are a pure function of gathered
// facts, so that tests give facts; GatherFacts does the probes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tftp-controller/checks/service_status.h"
#include "tftp-controller/checks/tftp_client.h"
#include "tftp-controller/service/folder_access.h"
#include "tftp-controller/service/server_options.h"

namespace tftpc {

enum class Verdict { kOk, kProblem, kNote };

struct Finding {
  std::string check;  // short title: "The service listens", "Fetch over 192.168.1.5", ...
  Verdict verdict = Verdict::kOk;
  std::string explanation;  // plain words: what was found
  std::string fix;          // plain words, with the exact command when one is needed
};

struct InterfaceFacts {
  std::string name;
  std::string ipv4;
  bool carrier = false;
  bool up = false;
};

// One fetch tried by the probe.
struct FetchFacts {
  std::string address;    // "127.0.0.1", "192.168.1.5"
  bool loopback = false;  // over the loopback interface
  std::string file;       // the name asked for
  // A probe file of ours was put in the folder (its bytes are `expected`); else the folder was
  // not ours to write, and a name that does not exist was asked for.
  bool planted = false;
  std::string expected;
  TftpResult result;
  std::chrono::milliseconds timeout{2000};
};

struct DiagnosisFacts {
  ServiceStatus status;
  std::string folder;
  bool uploads = false;
  FolderCheck folder_check;
  std::string listen_address;  // the address asked for (in.tftpd's -a); empty: every address
  // The interface the user chose, or (none chosen) every interface that is up but loopback.
  std::vector<InterfaceFacts> interfaces;
  bool interface_chosen = false;
  std::vector<FetchFacts> fetches;  // loopback first, where it is tried
  std::string firewall_tool;        // "firewall-cmd", "ufw", "nft", "iptables"; empty: none found
  std::optional<PortRange> port_range;  // the data ports, to be opened as well
};

// The probes: the service's answers over loopback and each chosen address (a probe file planted
// in the folder when the user may write it, removed after), the folder's access, the interfaces
// of /sys/class/net and the firewall tool installed. `interface` is the one the user chose in
// the list of interfaces; empty: every interface. It blocks for up to two seconds for each
// address that does not answer: a window runs it away from its own thread.
DiagnosisFacts GatherFacts(const ServerOptions& options, const ServiceStatus& status,
                           const std::string& interface);
DiagnosisFacts GatherFacts(const ServerOptions& options, const ServiceStatus& status);  // probes
// The findings, in this order: the service listens; each fetch; the folder's permissions; other
// holders of the port; the interfaces; a firewall (loopback answers while another address does
// not).
std::vector<Finding> Diagnose(const DiagnosisFacts& facts);

}  // namespace tftpc
