#include "tftp-controller/checks/service_status.h"

#include <libintl.h>

#include <algorithm>

#include "platform/text/string_format.h"
#include "tftp-controller/checks/launchd_jobs.h"
#include "tftp-controller/service/proc_tables.h"
#include "tftp-controller/service/say.h"
#include "tftp-controller/service/server_options.h"
#include "tftp-controller/service/service_file.h"

#define _(s) gettext(s)

namespace tftpc {
namespace {

bool EveryAddress(const std::string& address) {
  return address == "0.0.0.0" || address == "::";
}

// "in.tftpd (tftpd-hpa.service)", "dnsmasq (pid 812)", "a process of user 1000".
std::string Describe(const PortHolder& holder) {
  if (!holder.launchd_label.empty())
    return Say(_("the launchd job %@ (%@)"), {holder.launchd_label, holder.launchd_definition});
  if (holder.program.empty()) return Say(_("a process of user %@"), {std::to_string(holder.uid)});
  if (!holder.systemd_unit.empty()) return Say(_("%@ (%@)"), {holder.program, holder.systemd_unit});
  return Say(_("%@ (pid %@)"), {holder.program, std::to_string(holder.pid)});
}

// Where the service listens when it runs: xinetd's bind attribute (0.0.0.0: every address).
std::string ConfiguredAddress(const ServiceDefinition& definition) {
  ServerOptions options;
  std::vector<std::string> unknown;
  OptionsOfDefinition(definition, &options, &unknown, nullptr);
  return options.listen_address;
}

// A holder that is a launchd job's: its server runs in one of the job's units, or the socket is
// held where no process can be seen (systemd's, pid 1) at an address the job listens on.
void NameLaunchdJob(const std::vector<LaunchdJob>& jobs, PortHolder* holder) {
  for (const LaunchdJob& job : jobs) {
    bool held = JobOwnsUnit(job, holder->systemd_unit);
    if (!held && holder->pid <= 1) {
      held = std::any_of(job.datagram.begin(), job.datagram.end(), [&](const LaunchdListener& l) {
        return l.port == holder->port && l.address == holder->local_address;
      });
    }
    if (held) {
      holder->launchd_label = job.label;
      holder->launchd_definition = job.definition;
      return;
    }
  }
}

// As a user, neither xinetd's descriptors nor systemd's can be read, and a socket no process is
// seen to hold is put down to our xinetd. Where a job listens at that address, the socket is the
// job's while our service is off, or when xinetd binds another address (`xinetd_address`, its
// bind attribute); else one of two sockets there (both bind with SO_REUSEADDR) is the job's.
// Which process holds the job's socket stays unknown.
void TakeBackFromXinetd(const LaunchdJob& job, bool enabled, const std::string& xinetd_address,
                        std::vector<PortHolder>* holders) {
  for (const LaunchdListener& listener : job.datagram) {
    PortHolder* guessed = nullptr;
    int at_address = 0;
    bool named = false;
    for (PortHolder& holder : *holders) {
      if (holder.port != listener.port || holder.local_address != listener.address) continue;
      ++at_address;
      named = named || holder.launchd_label == job.label;
      if (holder.ours && holder.program == "xinetd") guessed = &holder;
    }
    if (named || !guessed) continue;
    if (enabled && at_address < 2 && listener.address == xinetd_address) continue;
    guessed->ours = false;
    guessed->pid = 0;
    guessed->program.clear();
    guessed->systemd_unit.clear();
    guessed->launchd_label = job.label;
    guessed->launchd_definition = job.definition;
  }
}

}  // namespace

std::string HoldersText(const std::vector<PortHolder>& holders, unsigned port) {
  std::string names;
  for (const PortHolder& holder : holders) {
    std::string name = Describe(holder);
    if (names.find(name) != std::string::npos) continue;  // one program on both families
    names += (names.empty() ? "" : ", ") + name;
  }
  return Say(_("port %@ is held by %@"), {std::to_string(port), names});
}

ServiceStatus ReadServiceStatus(const StatusSources& sources) {
  ServiceStatus status;
  const ServiceDefinition definition = ReadServiceDefinition(sources.service_file);
  status.enabled = definition.found && !definition.disabled;
  status.port = definition.port;
  status.xinetd_running = LiveXinetd(sources.pid_file, sources.proc) != 0;
  std::vector<PortHolder> holders = UdpPortHolders(status.port, sources.proc, sources.pid_file);
  if (!holders.empty()) {
    const std::vector<LaunchdJob> jobs =
        JobsOnPort(CachedLaunchdJobs(sources.launchd_folders), status.port);
    for (PortHolder& holder : holders) {
      if (!holder.ours) NameLaunchdJob(jobs, &holder);
    }
    const std::string xinetd_address = definition.bind.empty() ? "0.0.0.0" : definition.bind;
    for (const LaunchdJob& job : jobs)
      TakeBackFromXinetd(job, status.enabled, xinetd_address, &holders);
  }
  std::vector<std::string> ours;
  for (PortHolder& holder : holders) {
    if (holder.ours)
      ours.push_back(holder.local_address);
    else
      status.others.push_back(std::move(holder));
  }
  status.running = status.enabled && status.xinetd_running && !ours.empty();
  status.addresses = ours;

  if (status.running) {
    for (const std::string& address : ours) {
      if (EveryAddress(address)) {
        status.listen_address.clear();
        break;
      }
      status.listen_address += (status.listen_address.empty() ? "" : ", ") + address;
    }
  } else {
    status.listen_address = ConfiguredAddress(definition);
  }
  if (status.listen_address.empty()) status.listen_address = _("every address");

  const std::string port = std::to_string(status.port);
  if (status.running) {
    status.text = Say(_("Running on %@, port %@"), {status.listen_address, port});
  } else if (!definition.found) {
    status.text = Say(_("Stopped: %@ defines no tftp service"), {sources.service_file});
  } else if (!status.enabled && !ours.empty()) {
    status.text = Say(_("Stopped: xinetd still serves port %@ until it reads its configuration "
                        "again"),
                      {port});
  } else if (!status.enabled) {
    status.text = _("Stopped");
  } else if (!status.xinetd_running) {
    status.text = _("Stopped: xinetd does not run");
  } else {
    status.text = Say(_("Stopped: xinetd does not listen on port %@"), {port});
  }
  if (!status.running && !status.others.empty())
    status.text += "; " + HoldersText(status.others, status.port);
  return status;
}

}  // namespace tftpc
