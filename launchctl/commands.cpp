#include "launchctl/commands.h"

#include <netdb.h>

#include <charconv>
#include <cstdio>

#include "launchctl/job_list.h"
#include "launchctl/systemctl.h"
#include "launchctl/unit_folder.h"
#include "platform/plist/file.h"

namespace launchctl {
namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "launchctl: %s\n", message.c_str());
  return 1;
}

std::optional<int> ServicePort(const std::string& name, bool datagram) {
  const servent* s = getservbyname(name.c_str(), datagram ? "udp" : "tcp");
  if (s == nullptr) return std::nullopt;
  return ntohs(static_cast<uint16_t>(s->s_port));
}

std::vector<std::string> With(std::string verb, const std::vector<std::string>& units) {
  std::vector<std::string> args = {std::move(verb)};
  args.insert(args.end(), units.begin(), units.end());
  return args;
}

// The units of ours in the two folders this launchctl writes to, with their folders.
std::vector<std::pair<std::string, UnitFile>> OurUnits() {
  std::vector<std::pair<std::string, UnitFile>> out;
  for (const char* path : {kRuntimeFolder, kPersistentFolder}) {
    std::string err;
    std::optional<UnitFolder> folder = UnitFolder::Open(path, &err);
    if (!folder) continue;
    for (UnitFile& f : folder->Ours()) out.emplace_back(path, std::move(f));
  }
  return out;
}

JobState StateOf(const Systemctl& systemctl, const LoadedJob& job) {
  JobState state;
  if (job.service.empty() || job.service.ends_with("@.service")) return state;
  std::map<std::string, std::string> p = systemctl.Show(job.service, {"MainPID", "ExecMainStatus"});
  const std::string& pid = p["MainPID"];
  const std::string& status = p["ExecMainStatus"];
  long number = 0;
  if (std::from_chars(pid.data(), pid.data() + pid.size(), number).ec == std::errc() && number > 0)
    state.pid = number;
  if (std::from_chars(status.data(), status.data() + status.size(), number).ec == std::errc())
    state.last_exit_status = number;
  return state;
}

// Stops the units, disables them where asked, removes the files and reloads. Every step is
// tried; the first failure is kept in *err.
bool TakeDown(const Systemctl& systemctl, const std::vector<std::string>& stop,
              const std::vector<std::string>& disable, const UnitFolder& folder,
              const std::vector<std::string>& files, std::string* err) {
  std::string why;
  bool ok = systemctl.Run(With("stop", stop), nullptr, &why);
  if (!ok) *err = why;
  // One reload at the end serves both the links disable removes and the files.
  if (!disable.empty() &&
      !systemctl.Run(With("disable", With("--no-reload", disable)), nullptr, &why) && ok) {
    ok = false;
    *err = why;
  }
  for (const std::string& f : files) {
    if (!folder.RemoveOurs(f, &why) && ok) {
      ok = false;
      *err = why;
    }
  }
  if (!systemctl.DaemonReload(&why) && ok) {
    ok = false;
    *err = why;
  }
  systemctl.Run(With("reset-failed", stop), nullptr, &why);
  return ok;
}

}  // namespace

int Load(const std::string& definition, bool persistent) {
  std::string err;
  std::optional<platform::Value> root = platform::ReadPlistFile(definition, &err);
  if (!root) return Fail(err);
  std::optional<Job> job = JobFromPlist(*root, &err);
  if (!job) return Fail(definition + ": " + err);
  if (job->disabled && !persistent)
    return Fail(definition + ": nothing found to load: the job is Disabled (load -w loads it)");
  std::optional<Units> units = Translate(*job, definition, ServicePort, &err);
  if (!units) return Fail(definition + ": " + err + "; nothing loaded");
  std::optional<Systemctl> systemctl = Systemctl::Find(&err);
  if (!systemctl) return Fail(err);
  // systemd makes its runtime folder when it boots the system; without it nothing would run the
  // units, and none are written.
  if (!UnitFolder::Open(kRuntimeFolder, &err))
    return Fail("systemd is not running as the system's service manager; nothing loaded");

  for (const std::string& path : kSystemUnitFolders) {
    std::optional<UnitFolder> folder = UnitFolder::Open(path, &err);
    if (!folder) continue;
    for (const UnitFile& f : units->files) {
      switch (folder->Inspect(f.name)) {
        case UnitFolder::Presence::kAbsent:
          break;
        case UnitFolder::Presence::kOurs:
          return Fail(job->label + ": service already loaded");
        case UnitFolder::Presence::kForeign:
          return Fail(path + "/" + f.name + " was not made by launchctl; nothing loaded");
      }
    }
  }
  std::optional<UnitFolder> folder =
      UnitFolder::Open(persistent ? kPersistentFolder : kRuntimeFolder, &err);
  if (!folder) return Fail(err.empty() ? "no systemd unit folder; is systemd running?" : err);
  std::vector<std::string> names;
  for (const UnitFile& f : units->files) names.push_back(f.name);
  if (!folder->AddAll(units->files, &err)) return Fail(err + "; nothing loaded");

  std::vector<std::string> enabled = persistent ? units->start : std::vector<std::string>{};
  // enable works on the files; the one reload then reads units and links together.
  bool ok = (enabled.empty() ||
             systemctl->Run(With("enable", With("--no-reload", enabled)), nullptr, &err)) &&
            systemctl->DaemonReload(&err) && systemctl->Start(units->start, &err);
  if (ok) return 0;
  std::string cleanup;
  if (!TakeDown(*systemctl, units->stop, enabled, *folder, names, &cleanup))
    err += "\nand taking it down again failed: " + cleanup;
  return Fail(job->label + ": " + err + "\nnothing loaded");
}

int Unload(const std::string& definition, bool persistent) {
  std::string err;
  std::optional<platform::Value> root = platform::ReadPlistFile(definition, &err);
  if (!root) return Fail(err);
  std::optional<std::string> label = LabelFromPlist(*root, &err);
  if (!label) return Fail(definition + ": " + err);
  std::optional<Systemctl> systemctl = Systemctl::Find(&err);
  if (!systemctl) return Fail(err);

  bool found = false, ok = true;
  for (const char* path : {kRuntimeFolder, kPersistentFolder}) {
    std::optional<UnitFolder> folder = UnitFolder::Open(path, &err);
    if (!folder) continue;
    std::vector<std::string> files, stop;
    for (const LoadedJob& job : GroupByLabel(folder->Ours())) {
      if (job.label != *label) continue;
      files = job.units;
      for (const std::string& unit : job.units)
        if (unit.ends_with(".socket")) stop.push_back(unit);
      stop.push_back(job.service.ends_with("@.service")
                         ? job.service.substr(0, job.service.size() - 9) + "@*.service"
                         : job.service);
    }
    if (files.empty()) continue;
    found = true;
    const bool runtime = path == std::string(kRuntimeFolder);
    if (!runtime && !persistent) {
      // Stopped until the next boot, where it starts again: only -w takes it off for good.
      if (!systemctl->Run(With("stop", stop), nullptr, &err)) ok = false;
      continue;
    }
    std::vector<std::string> disable;
    if (!runtime)
      for (const std::string& f : files)
        if (!f.ends_with("@.service")) disable.push_back(f);
    if (!TakeDown(*systemctl, stop, disable, *folder, files, &err)) ok = false;
  }
  if (!found) return Fail("Error unloading: " + *label + ": Could not find specified service");
  return ok ? 0 : Fail(*label + ": " + err);
}

int List(const std::string& label) {
  std::string err;
  std::vector<UnitFile> units;
  for (auto& [path, unit] : OurUnits()) units.push_back(std::move(unit));
  for (const LoadedJob& job : GroupByLabel(units)) {
    if (job.label != label) continue;
    std::optional<Systemctl> systemctl = Systemctl::Find(&err);
    if (!systemctl) return Fail(err);
    std::fputs(DescribeJob(job, StateOf(*systemctl, job)).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "Could not find service \"%s\" in domain for port\n", label.c_str());
  return 1;
}

int ListAll() {
  std::string err;
  std::optional<Systemctl> systemctl = Systemctl::Find(&err);
  if (!systemctl) return Fail(err);
  std::vector<UnitFile> units;
  for (auto& [path, unit] : OurUnits()) units.push_back(std::move(unit));
  std::string out = kListHeader;
  for (const LoadedJob& job : GroupByLabel(units)) out += ListLine(job, StateOf(*systemctl, job));
  std::fputs(out.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace launchctl
