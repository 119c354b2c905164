// The distribution's own tftpd-hpa unit, through systemd's D-Bus API (Qt D-Bus, system bus;
// systemd checks polkit itself, interactive authorization allowed).
#pragma once

#include <optional>
#include <string>

namespace tftpc {

struct DistroUnit {
  std::string name = "tftpd-hpa.service";
  bool loaded = false;
  bool active = false;
  bool enabled = false;
};

std::optional<DistroUnit> QueryDistroUnit(std::string* err);  // nullopt: no systemd, err says why
bool TakeOverFromDistroUnit(std::string* err);  // StopUnit + DisableUnitFiles (+ Reload)

}  // namespace tftpc
