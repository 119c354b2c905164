#include "tftp-controller/checks/diagnosis.h"

namespace tftpc {

DiagnosisFacts GatherFacts(const ServerOptions& options, const ServiceStatus& status) {
  DiagnosisFacts facts;
  facts.status = status;
  facts.folder = options.folder;
  return facts;
}

std::vector<Finding> Diagnose(const DiagnosisFacts&) {
  return {};
}

}  // namespace tftpc
