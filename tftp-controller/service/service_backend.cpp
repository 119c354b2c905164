#include "tftp-controller/service/service_backend.h"

#include <utility>

namespace tftpc {

ServiceBackend::ServiceBackend(BackendPaths paths) : paths_(std::move(paths)) {}
BackendResult ServiceBackend::ApplyOptions(const ServerOptions&) {
  return {};
}
BackendResult ServiceBackend::Start() {
  return {};
}
BackendResult ServiceBackend::Restart() {
  return {};
}
BackendResult ServiceBackend::Stop() {
  return {};
}
const BackendPaths& ServiceBackend::paths() const {
  return paths_;
}

}  // namespace tftpc
