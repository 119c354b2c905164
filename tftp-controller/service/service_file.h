// service_file.h — reading /etc/xinetd.d/tftp (world-readable) as the user
#pragma once

#include <string>

namespace tftpc {

struct ServiceDefinition {
  bool found = false;
  bool disabled = true;
  std::string server_args;
};
ServiceDefinition ReadServiceDefinition(const std::string& path = "/etc/xinetd.d/tftp");

}  // namespace tftpc
