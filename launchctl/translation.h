// The translation of a job definition into systemd units: pure, the port lookup given.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launchctl/job.h"

namespace launchctl {

// The first line of every unit this launchctl makes; no other unit begins with it.
inline constexpr char kMarker[] = "# Made by launchctl from a job definition";

struct UnitFile {
  std::string name;  // "org.qrb.tftp.service"
  std::string text;
};

struct Units {
  std::vector<UnitFile> files;     // the service, then the socket when there is one
  std::vector<std::string> start;  // what load starts (and, with -w, enables)
  std::vector<std::string> stop;   // what unload stops: the socket first
};

// The port of a service name from /etc/services for the socket type, or nothing.
using PortLookup = std::function<std::optional<int>(const std::string& name, bool datagram)>;

// The service name the units of a label carry, before ".service" or ".socket".
std::string UnitBase(const std::string& label);

// The units of a job read from `definition`. nullopt with *err naming the key whose value no
// unit can carry exactly, or that systemd cannot do as launchd does.
std::optional<Units> Translate(const Job& job, const std::string& definition,
                               const PortLookup& ports, std::string* err);

}  // namespace launchctl
