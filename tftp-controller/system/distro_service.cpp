#include "tftp-controller/system/distro_service.h"

namespace tftpc {

std::optional<DistroUnit> QueryDistroUnit(std::string* err) {
  if (err) *err = "not yet";
  return std::nullopt;
}

bool TakeOverFromDistroUnit(std::string* err) {
  if (err) *err = "not yet";
  return false;
}

}  // namespace tftpc
