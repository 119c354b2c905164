// service_backend.h — every change goes through configtool and xinetdtool
#pragma once

#include <string>

#include "tftp-controller/service/server_options.h"

namespace tftpc {

struct BackendResult {
  bool ok = false;
  std::string
      message;  // the back end's own words (its standard error / output), never a bare number
};
struct BackendPaths {
  std::string configtool = "/usr/sbin/configtool";
  std::string xinetdtool = "/usr/sbin/xinetdtool";
  std::string service_file = "/etc/xinetd.d/tftp";
};
class ServiceBackend {
 public:
  explicit ServiceBackend(BackendPaths paths = {});
  BackendResult ApplyOptions(const ServerOptions& options);  // configtool ... server_args
  BackendResult Start();    // disable = no, then xinetdtool --start (or --restart when running)
  BackendResult Restart();  // xinetdtool --restart
  BackendResult Stop();     // disable = yes and the server gone: nothing answers on port 69 after
  const BackendPaths& paths() const;

 private:
  BackendPaths paths_;
};

}  // namespace tftpc
