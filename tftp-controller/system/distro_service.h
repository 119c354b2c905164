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
  bool enabled = false;  // starts at boot: enabled, or made from an init script ("generated")
  std::string unit_file_state;  // systemd's word: "enabled", "disabled", "generated", "masked"...
};

std::optional<DistroUnit> QueryDistroUnit(std::string* err);  // nullopt: no systemd, err says why
// Stops the unit and keeps it from starting again: its unit file disabled, or masked where it
// is made from an init script (which a disable leaves enabled), then systemd reloaded.
bool TakeOverFromDistroUnit(std::string* err);  // StopUnit + DisableUnitFiles (+ Reload)

// The same on the bus at `address` ("unix:path=..."; empty: the system bus), each call given
// `timeout_ms` to be answered, those that change something (and may ask for a password) longer.
std::optional<DistroUnit> QueryDistroUnitOn(const std::string& address, int timeout_ms,
                                            std::string* err);
bool TakeOverFromDistroUnitOn(const std::string& address, int timeout_ms, std::string* err);

}  // namespace tftpc
