// Why a device cannot fetch files from the service. The rules are a pure function of gathered
// facts, so that tests give facts; GatherFacts does the probes.
#pragma once

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
  std::string address;  // "127.0.0.1", "192.168.1.5"
  bool loopback = false;
  std::string file;          // the name asked for
  bool expect_data = false;  // a probe file was planted; else a name that does not exist
  TftpResult result;
};

struct DiagnosisFacts {
  ServiceStatus status;
  unsigned port = 69;
  std::string folder;
  FolderCheck folder_check;
  std::vector<InterfaceFacts> interfaces;  // the chosen interface(s): the one of -a, or all
  std::vector<FetchFacts> fetches;         // loopback first
  std::string firewall_tool;               // "nft", "iptables", "ufw", "firewall-cmd"; empty: none
};

DiagnosisFacts GatherFacts(const ServerOptions& options, const ServiceStatus& status);  // probes
std::vector<Finding> Diagnose(const DiagnosisFacts& facts);  // in the order

}  // namespace tftpc
