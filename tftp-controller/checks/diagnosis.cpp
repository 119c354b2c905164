#include "tftp-controller/checks/diagnosis.h"

#include <libintl.h>

#include <algorithm>

#include "platform/text/string_format.h"
#include "tftp-controller/checks/network_findings.h"
#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {
namespace {

// A command shown to be typed: words with blanks or quotes stand in single quotes.
std::string CommandText(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& word : argv) {
    if (!text.empty()) text += ' ';
    if (!word.empty() && word.find_first_of(" \t'\"\\$`;&|<>()*?!#~") == std::string::npos) {
      text += word;
      continue;
    }
    text += '\'';
    for (char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text += '\'';
  }
  return text;
}

Finding ServiceListens(const DiagnosisFacts& facts) {
  const ServiceStatus& status = facts.status;
  Finding f{_("The service listens"), Verdict::kOk, status.text, ""};
  if (status.running) return f;
  f.verdict = Verdict::kProblem;
  if (!status.enabled)
    f.fix = _("Press Start.");
  else if (!status.xinetd_running)
    f.fix = _("Press Start: it starts xinetd, which serves the port.");
  else if (!status.others.empty())
    f.fix = _("Stop the other program on the port (see below), then press Restart.");
  else
    f.fix = _("Press Restart, so that xinetd reads its configuration again.");
  return f;
}

Finding Fetch(const DiagnosisFacts& facts, const FetchFacts& fetch) {
  const std::string port = std::to_string(facts.status.port);
  Finding f;
  f.check = fetch.loopback ? Say(_("Fetch over loopback (%@)"), {fetch.address})
                           : Say(_("Fetch over %@"), {fetch.address});
  const TftpResult& r = fetch.result;
  if (!r.answered) {
    f.verdict = Verdict::kProblem;
    f.explanation =
        Say(_("Nothing answered on UDP port %@ of %@ (%@)."), {port, fetch.address, r.error});
    if (!facts.status.running)
      f.fix = _("Start the service first.");
    else if (fetch.loopback)
      f.fix = _("The service is said to run but does not answer: press Restart.");
    else
      f.fix = _("See the findings on the interface and the firewall below.");
    return f;
  }
  if (!fetch.planted) {
    // Any answer to a name that does not exist proves that a server answers.
    f.explanation = Say(_("The server answered a request for \"%@\", a name that does not exist, "
                          "with \"%@\": it answers over %@. (The folder is not yours to write, so "
                          "no probe file could be put there.)"),
                        {fetch.file, r.ok ? _("a file") : r.error, fetch.address});
    return f;
  }
  if (r.ok && r.data == fetch.expected) {
    f.explanation =
        Say(_("The probe file \"%@\" came back whole over %@."), {fetch.file, fetch.address});
    return f;
  }
  f.verdict = Verdict::kProblem;
  if (r.ok) {
    f.explanation = Say(_("A file came back over %@, but not the probe file that was put in %@."),
                        {fetch.address, facts.folder});
    f.fix =
        _("Another server, or a rule that maps file names, answered: see the other programs "
          "on the port below.");
  } else {
    f.explanation = Say(_("The server answered the request for the probe file \"%@\" over %@ with "
                          "\"%@\"."),
                        {fetch.file, fetch.address, r.error});
    if (r.error.rfind("error 1:", 0) == 0)
      f.fix = Say(_("The server serves another folder than %@: press Restart so that it serves "
                    "this one."),
                  {facts.folder});
    else if (r.error.rfind("error 2:", 0) == 0)
      f.fix = _("The server's user may not read the file: see the folder's permissions below.");
    else
      f.fix = _("See the findings below.");
  }
  return f;
}

Finding Folder(const DiagnosisFacts& facts) {
  const FolderCheck& check = facts.folder_check;
  Finding f{_("The served folder's permissions"), Verdict::kOk, "", ""};
  if (check.problems.empty()) {
    f.explanation = Say(facts.uploads ? _("The server's user can reach, read and write %@.")
                                      : _("The server's user can reach and read %@."),
                        {facts.folder});
    return f;
  }
  f.verdict = Verdict::kProblem;
  for (const FolderProblem& problem : check.problems)
    f.explanation += (f.explanation.empty() ? "" : "\n") + problem.problem;
  const std::string command = CommandText(check.fix_command);
  if (command.empty())
    f.fix = _("Ask the owner of the folder to let the server's user in, or serve another folder.");
  else if (check.fixable_by_user)
    f.fix = Say(_("The folder is yours: press Fix under Served folder, or run: %@"), {command});
  else
    f.fix = Say(_("As root, run: %@"), {command});
  return f;
}

Finding OtherHolders(const DiagnosisFacts& facts) {
  const unsigned port = facts.status.port;
  Finding f{_("Other programs on the port"), Verdict::kOk, "", ""};
  if (facts.status.others.empty()) {
    f.explanation = Say(_("No other program holds UDP port %@."), {std::to_string(port)});
    return f;
  }
  f.verdict = Verdict::kProblem;
  std::string held = HoldersText(facts.status.others, port);
  if (!held.empty()) held[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(held[0])));
  f.explanation = held + ".";
  std::vector<std::string> fixes;
  for (const PortHolder& holder : facts.status.others) {
    std::string fix;
    // A job's units are launchctl's: systemctl would leave them loaded at the next boot.
    if (!holder.launchd_definition.empty())
      fix = Say(_("Press Stop job, or run: launchdtool unload %@"), {holder.launchd_definition});
    else if (!holder.systemd_unit.empty())
      fix = Say(_("Take over from %@, or as root run: systemctl disable --now %@"),
                {holder.systemd_unit, holder.systemd_unit});
    else if (holder.pid != 0)
      fix = Say(_("Stop %@ (pid %@), or set it up not to serve TFTP."),
                {holder.program, std::to_string(holder.pid)});
    else
      fix = Say(_("Find out which program it is: as root, run: ss -ulpn 'sport = :%@'"),
                {std::to_string(port)});
    if (std::find(fixes.begin(), fixes.end(), fix) == fixes.end()) fixes.push_back(fix);
  }
  for (const std::string& fix : fixes) f.fix += (f.fix.empty() ? "" : "\n") + fix;
  return f;
}

}  // namespace

std::vector<Finding> Diagnose(const DiagnosisFacts& facts) {
  std::vector<Finding> findings = {ServiceListens(facts)};
  for (const FetchFacts& fetch : facts.fetches) findings.push_back(Fetch(facts, fetch));
  findings.push_back(Folder(facts));
  findings.push_back(OtherHolders(facts));
  for (Finding& f : InterfaceFindings(facts)) findings.push_back(std::move(f));
  for (Finding& f : FirewallFindings(facts)) findings.push_back(std::move(f));
  return findings;
}

}  // namespace tftpc
