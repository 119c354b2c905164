#include "launchctl/translation.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "launchctl/unit_text.h"

namespace launchctl {
namespace {

constexpr std::size_t kUnitNameMax = 255;

bool Refuse(std::string* err, const std::string& key, const std::string& why) {
  *err = "The value of " + key + " " + why;
  return false;
}

bool Text(std::string* err, const std::string& key, const std::string& s) {
  if (HasControlCharacter(s)) return Refuse(err, key, "holds a control character");
  return true;
}

// A path systemd takes as written: absolute, normalized, without surrounding spaces.
bool Path(std::string* err, const std::string& key, const std::string& p) {
  if (!Text(err, key, p)) return false;
  if (p.empty() || p[0] != '/') return Refuse(err, key, "is not an absolute path");
  // A backslash at the end of a line would join the next line to it.
  if (std::isspace(static_cast<unsigned char>(p.back())) || p.back() == '/' || p.back() == '\\')
    return Refuse(err, key, "ends in a space, a slash or a backslash");
  const std::string framed = p + "/";
  if (framed.find("/../") != std::string::npos || framed.find("/./") != std::string::npos ||
      p.find("//") != std::string::npos)
    return Refuse(err, key, "is not a normalized path");
  return true;
}

// A user or group: a name as useradd makes them, or a number. systemd would ignore any other
// value with a warning and run the job as root.
bool Account(std::string* err, const std::string& key, const std::string& name) {
  bool ok = !name.empty() && name.size() <= 31 && name[0] != '-' && name[0] != '.';
  for (char c : name)
    ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.');
  return ok || Refuse(err, key, "is not a user or group name");
}

bool EnvironmentName(const std::string& name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// The address part of ListenStream=/ListenDatagram=.
std::optional<std::string> Listen(const Listener& l, const PortLookup& ports, bool* v6_only,
                                  bool* dual, std::string* err) {
  const std::string key = "Sockets:" + l.name + ":";
  if (!l.passive) {
    Refuse(err, key + "SockPassive", "is false; systemd only listens");
    return std::nullopt;
  }
  std::optional<int> port;
  if (!l.service.empty() && std::all_of(l.service.begin(), l.service.end(),
                                        [](char c) { return c >= '0' && c <= '9'; })) {
    if (l.service.size() <= 5 && std::stoi(l.service) >= 1 && std::stoi(l.service) <= 65535)
      port = std::stoi(l.service);
  } else if (!l.service.empty() && !HasControlCharacter(l.service)) {
    port = ports(l.service, l.datagram);
  }
  if (!port) {
    Refuse(err, key + "SockServiceName", "names no port");
    return std::nullopt;
  }
  const std::string p = std::to_string(*port);
  if (l.node) {
    unsigned char buf[16];
    const bool v4 = inet_pton(AF_INET, l.node->c_str(), buf) == 1;
    const bool v6 = !v4 && inet_pton(AF_INET6, l.node->c_str(), buf) == 1;
    if (!v4 && !v6) {
      Refuse(err, key + "SockNodeName", "is not a numeric address");
      return std::nullopt;
    }
    if ((v4 && l.family == "IPv6") || (v6 && l.family == "IPv4")) {
      Refuse(err, key + "SockFamily", "does not match SockNodeName");
      return std::nullopt;
    }
    return v4 ? *l.node + ":" + p : "[" + *l.node + "]:" + p;
  }
  if (l.family == "IPv4") return "0.0.0.0:" + p;
  if (l.family == "IPv6") {
    *v6_only = true;
    return "[::]:" + p;
  }
  *dual = true;
  return p;
}

std::string Header(const Job& job, const std::string& definition) {
  std::string h = std::string(kMarker) + "; \"launchctl unload\" removes it.\n";
  h += "# Label=\"" + job.label + "\"\n";
  h += "# Definition=\"" + definition + "\"\n";
  if (job.program) h += "# Program=\"" + *job.program + "\"\n";
  for (const std::string& a : job.program_arguments) h += "# Argument=\"" + a + "\"\n";
  return h;
}

bool ServiceSettings(const Job& job, std::string* s, std::string* err) {
  std::string path = job.program.value_or("");
  if (!job.program) {
    if (job.program_arguments.empty())
      return Refuse(err, "ProgramArguments", "is missing or empty, and there is no Program");
    path = job.program_arguments[0];
  }
  if (!Path(err, job.program ? "Program" : "ProgramArguments", path)) return false;
  // "@": the program runs under another name (launchd's Program beside ProgramArguments).
  const bool renamed =
      job.program && !job.program_arguments.empty() && job.program_arguments[0] != path;
  std::string exec = std::string("ExecStart=") + (renamed ? "@" : "") + CommandWord(path);
  for (std::size_t i = renamed ? 0 : 1; i < job.program_arguments.size(); ++i) {
    if (!Text(err, "ProgramArguments", job.program_arguments[i])) return false;
    exec += " " + CommandWord(job.program_arguments[i]);
  }
  *s += "Type=exec\n" + exec + "\n";
  if (job.keep_alive) *s += "Restart=always\n";
  if (job.user_name) {
    if (!Account(err, "UserName", *job.user_name)) return false;
    if (job.init_groups == false)
      return Refuse(err, "InitGroups", "is false; systemd always sets a user's groups");
    *s += "User=" + Specifiers(*job.user_name) + "\n";
  }
  if (job.group_name) {
    if (!Account(err, "GroupName", *job.group_name)) return false;
    *s += "Group=" + Specifiers(*job.group_name) + "\n";
  }
  const std::pair<const char*, const std::optional<std::string>*> paths[] = {
      {"WorkingDirectory", &job.working_directory},
      {"RootDirectory", &job.root_directory},
      {"StandardInPath", &job.standard_in_path},
      {"StandardOutPath", &job.standard_out_path},
      {"StandardErrorPath", &job.standard_error_path}};
  const char* settings[] = {"WorkingDirectory=", "RootDirectory=", "StandardInput=file:",
                            "StandardOutput=append:", "StandardError=append:"};
  for (std::size_t i = 0; i < std::size(paths); ++i) {
    if (!*paths[i].second) continue;
    if (!Path(err, paths[i].first, **paths[i].second)) return false;
    *s += settings[i] + Specifiers(**paths[i].second) + "\n";
  }
  for (const auto& [name, value] : job.environment) {
    if (!EnvironmentName(name)) return Refuse(err, "EnvironmentVariables", "names a bad variable");
    if (!Text(err, "EnvironmentVariables:" + name, value)) return false;
    *s += "Environment=" + QuotedWord(name + "=" + value) + "\n";
  }
  if (job.umask) {
    if (*job.umask < 0 || *job.umask > 0777) return Refuse(err, "Umask", "is out of range");
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(*job.umask));
    *s += std::string("UMask=") + octal + "\n";
  }
  if (job.nice) {
    if (*job.nice < -20 || *job.nice > 19) return Refuse(err, "Nice", "is out of range");
    *s += "Nice=" + std::to_string(*job.nice) + "\n";
  }
  return true;
}

}  // namespace

std::string UnitBase(const std::string& label) {
  return EscapeUnitName(label);
}

std::optional<Units> Translate(const Job& job, const std::string& definition,
                               const PortLookup& ports, std::string* err) {
  if (!Text(err, "Label", job.label)) return std::nullopt;
  if (HasControlCharacter(definition)) {
    *err = "The definition's path holds a control character";
    return std::nullopt;
  }
  const std::string base = UnitBase(job.label);
  const bool sockets = !job.sockets.empty();
  const bool accept = sockets && job.inetd_wait == false;
  if (base.size() + std::string_view("@.service").size() > kUnitNameMax) {
    Refuse(err, "Label", "is too long for a unit name");
    return std::nullopt;
  }
  const std::string header = Header(job, definition);
  const std::string service_name = base + (accept ? "@.service" : ".service");
  std::string service =
      header + "\n[Unit]\nDescription=" + Specifiers(job.label) + " (launchd job)\n\n[Service]\n";
  if (!ServiceSettings(job, &service, err)) return std::nullopt;
  if (sockets && job.inetd_wait) service += "StandardInput=socket\n";
  const bool runs_at_load = job.run_at_load || job.keep_alive;
  const bool service_at_load = runs_at_load && !accept && !(sockets && job.inetd_wait);
  if (service_at_load) service += "\n[Install]\nWantedBy=multi-user.target\n";

  Units units;
  units.files.push_back({service_name, service});
  if (sockets) {
    std::string socket = header + "\n[Unit]\nDescription=" + Specifiers(job.label) +
                         " (sockets of launchd job)\n\n[Socket]\n";
    bool v6_only = false, dual = false;
    for (const Listener& l : job.sockets) {
      std::optional<std::string> where = Listen(l, ports, &v6_only, &dual, err);
      if (!where) return std::nullopt;
      if (accept && l.datagram) {
        Refuse(err, "inetdCompatibility:Wait", "is false for a datagram socket");
        return std::nullopt;
      }
      socket += std::string(l.datagram ? "ListenDatagram=" : "ListenStream=") + *where + "\n";
    }
    if (v6_only && dual) {
      Refuse(err, "Sockets", "mixes IPv6-only with dual-stack listeners");
      return std::nullopt;
    }
    if (v6_only) socket += "BindIPv6Only=ipv6-only\n";
    if (dual) socket += "BindIPv6Only=both\n";
    socket += accept ? "Accept=yes\n" : "Accept=no\n";
    socket += "\n[Install]\nWantedBy=sockets.target\n";
    units.files.push_back({base + ".socket", socket});
    units.start.push_back(base + ".socket");
    units.stop.push_back(base + ".socket");
  }
  if (service_at_load) units.start.push_back(service_name);
  units.stop.push_back(accept ? base + "@*.service" : service_name);
  return units;
}

}  // namespace launchctl
