#include "tftp-controller/service/service_backend.h"

#include <errno.h>
#include <fcntl.h>
#include <libintl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files/owned_fd.h"
#include "platform/text/string_format.h"
#include "tftp-controller/service/say.h"
#include "tftp-controller/service/service_file.h"
#include "tftp-controller/service/service_processes.h"
#include "utility/qrb_shell_command.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

// Standard error of a program run with administrator rights is ours (the runner hands it down),
// so for the run it is a file of its own, read back afterwards. Our own standard error is
// restored at once; what another thread of ours writes meanwhile lands in the message.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    file_.Reset(memfd_create("backend-stderr", MFD_CLOEXEC));
    saved_.Reset(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    if (file_.valid() && saved_.valid() && dup2(file_.get(), STDERR_FILENO) < 0) file_.Reset();
  }
  ~StderrCapture() { Restore(); }
  std::string Take() {
    Restore();
    std::string text;
    if (!file_.valid()) return text;
    char buffer[4096];
    for (off_t at = 0;;) {
      const ssize_t n = pread(file_.get(), buffer, sizeof buffer, at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || text.size() > (1u << 20)) break;
      text.append(buffer, static_cast<std::size_t>(n));
      at += n;
    }
    return text;
  }

 private:
  void Restore() {
    if (saved_.valid()) dup2(saved_.get(), STDERR_FILENO);
    saved_.Reset();
  }
  platform::OwnedFd file_, saved_;
};

std::mutex run_mutex;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct Said {
  bool ran = false;    // the program started (rights granted)
  std::string output;  // its standard output (with the runner's, its input stream)
  std::string error;   // its standard error, or the runner's reason it did not run
};

Said RunAsRoot(const std::string& path, const std::vector<std::string>& args) {
  Said said;
  QRBShellCommand* runner = QRBShellCommand::sharedShellCommand();
  if (runner == nullptr) {
    said.error = _("Administrator rights cannot be asked for on this system.");
    return said;
  }
  std::lock_guard<std::mutex> lock(run_mutex);
  StderrCapture capture;
  const platform::Dictionary result = runner->launchAsRoot(path, args);
  said.error = capture.Take();
  const std::string* output = result.StringFor(commandOutputKey);
  if (output) said.output = *output;
  said.ran = result.IntegerFor(commandResultKey) == 0;
  if (!said.ran) {  // the runner's refusal is its output; then what pkexec said, if anything
    const std::string refusal = output ? Trimmed(*output) : std::string();
    said.error = refusal + (refusal.empty() || said.error.empty() ? "" : "\n") + said.error;
    said.output.clear();
  }
  if (const std::string* why = result.StringFor(commandErrorKey))
    said.error += (said.error.empty() ? "" : "\n") + *why;
  return said;
}

// xinetdtool's log lines without their time and process: "Restarting xinetd (Morvane) ... ".
// A line with words after "... " tells what a program it ran printed, or why it ran none.
std::string LogMessages(const std::string& log, bool* troubled) {
  std::string messages;
  *troubled = false;
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(at, end - at);
    at = end + 1;
    if (const std::size_t close = line.find("] "); close != std::string::npos)
      line.erase(0, close + 2);
    const std::size_t dots = line.find(" ... ");
    if (dots == std::string::npos || !Trimmed(line.substr(dots + 5)).empty()) *troubled = true;
    if (!messages.empty()) messages += '\n';
    messages += Trimmed(line);
  }
  return messages;
}

BackendResult RunXinetdtool(const BackendPaths& paths, const char* option) {
  const Said said = RunAsRoot(paths.xinetdtool, {option});
  BackendResult result;
  bool troubled = false;
  result.message = said.ran ? LogMessages(said.error, &troubled) : Trimmed(said.error);
  result.ok = said.ran && !troubled;
  if (said.ran && !Trimmed(said.output).empty()) {
    result.ok = false;  // a usage error, or something else it never says on success
    result.message += (result.message.empty() ? "" : "\n") + Trimmed(said.output);
  }
  return result;
}

// Waits until `done` holds, looking at growing intervals, for at most `settle`.
template <typename Condition>
bool AwaitCondition(std::chrono::milliseconds settle, Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + settle;
  std::chrono::milliseconds step(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
    step = std::min(step * 2, std::chrono::milliseconds(250));
  }
  return true;
}

// configtool FILE NAME NEW OLD, then the file read back: `value` must now stand there.
BackendResult EditLine(const BackendPaths& paths, const std::string& name, const std::string& value,
                       const std::string& old_value) {
  const Said said = RunAsRoot(paths.configtool, {paths.service_file, name, value, old_value});
  BackendResult result;
  result.message = Trimmed(said.error);
  if (!said.ran || !result.message.empty()) return result;
  const ServiceDefinition now = ReadServiceDefinition(paths.service_file);
  const bool there = name == "disable" ? now.disabled == (value == "yes")
                     : name == "bind"  ? now.bind == value
                                       : now.server_args == value;
  if (said.output == "0" || !there) {
    result.message = Say(_("configtool changed nothing in %@: its %@ line no longer reads \"%@\"."),
                         {paths.service_file, name, old_value});
    return result;
  }
  result.ok = true;
  return result;
}

BackendResult Join(BackendResult first, const BackendResult& second) {
  if (!second.message.empty())
    first.message += (first.message.empty() ? "" : "\n") + second.message;
  first.ok = first.ok && second.ok;
  return first;
}

}  // namespace

ServiceBackend::ServiceBackend(BackendPaths paths) : paths_(std::move(paths)) {}

const BackendPaths& ServiceBackend::paths() const {
  return paths_;
}

BackendResult ServiceBackend::ApplyOptions(const ServerOptions& options) {
  if (std::optional<std::string> problem = ProblemWith(options)) return {false, *problem};
  const ServiceDefinition now = ReadServiceDefinition(paths_.service_file);
  if (!now.problem.empty()) return {false, now.problem};
  ServerOptions current;
  std::vector<std::string> kept;
  ParseServerArgs(now.server_args, &current, &kept, nullptr);
  const std::string line = ServerArgsLine(options, kept);
  BackendResult result{true, ""};
  if (line != now.server_args) result = EditLine(paths_, "server_args", line, now.server_args);
  if (!result.ok) return result;
  // The address xinetd binds the service's socket to; 0.0.0.0 is every IPv4 address. A file
  // without a bind line listens everywhere and is left so: configtool changes lines, it never
  // adds one.
  const std::string bind = options.listen_address.empty() ? "0.0.0.0" : options.listen_address;
  if (now.bind.empty() && !options.listen_address.empty())
    return Join(result, {false, Say(_("%@ has no \"bind\" line, so the service listens on every "
                                      "address. To listen on one, an administrator adds the line "
                                      "\"bind = 0.0.0.0\" to its service tftp section."),
                                    {paths_.service_file})});
  if (!now.bind.empty() && now.bind != bind)
    result = Join(result, EditLine(paths_, "bind", bind, now.bind));
  return result;
}

BackendResult ServiceBackend::SetDisable(bool disable) {
  const ServiceDefinition now = ReadServiceDefinition(paths_.service_file);
  if (!now.problem.empty()) return {false, now.problem};
  if (now.disabled == disable) return {true, ""};
  return EditLine(paths_, "disable", disable ? "yes" : "no", disable ? "no" : "yes");
}

BackendResult ServiceBackend::Start() {
  BackendResult result = SetDisable(false);
  if (!result.ok) return result;
  result = Join(result, RunXinetdtool(paths_, "--restart"));
  if (!result.ok) return result;
  const unsigned port = ReadServiceDefinition(paths_.service_file).port;
  if (!AwaitCondition(paths_.settle, [&] { return UdpPortHeld(port, paths_.proc); })) {
    result.ok = false;
    result = Join(result, {false, Say(_("Nothing listens on UDP port %@ after xinetd was started; "
                                        "the system log says why."),
                                      {std::to_string(port)})});
  }
  return result;
}

BackendResult ServiceBackend::Stop() {
  BackendResult result = SetDisable(true);
  if (!result.ok) return result;
  // A HUP reaches only a running xinetd; xinetdtool would start one that does not run.
  if (XinetdRuns(paths_.xinetd_pid_file, paths_.proc)) {
    result = Join(result, RunXinetdtool(paths_, "--restart"));
    if (!result.ok) return result;
  }
  const unsigned port = ReadServiceDefinition(paths_.service_file).port;
  // Quiet when nothing holds the port, or when neither an in.tftpd a super-server started nor
  // xinetd is left (xinetd closes the socket a moment after it has ended the server). Past the
  // wait, the port held by another program (with no in.tftpd of a super-server left), or an
  // in.tftpd still sending a file from a port of its own, is no failure.
  std::vector<pid_t> left;
  const bool quiet = AwaitCondition(paths_.settle, [&] {
    if (!UdpPortHeld(port, paths_.proc)) return true;
    left = SuperServerTftpds(paths_.proc);
    return left.empty() && !XinetdRuns(paths_.xinetd_pid_file, paths_.proc);
  });
  if (!quiet && !(left = SuperServerTftpds(paths_.proc)).empty() &&
      UdpPortHeld(port, paths_.proc)) {
    const char* words =
        XinetdRuns(paths_.xinetd_pid_file, paths_.proc)
            ? _("in.tftpd (process %@) still answers on port %@, though xinetd was told the "
                "service is off.")
            : _("in.tftpd (process %@) still answers on port %@: its xinetd no longer runs, so "
                "it ends by itself once it has been idle for its -t time (900 seconds unless "
                "set).");
    result =
        Join(result, {false, Say(words, {std::to_string(left.front()), std::to_string(port)})});
  }
  return result;
}

BackendResult ServiceBackend::Restart() {
  BackendResult stopped = Stop();
  if (!stopped.ok) return stopped;
  return Join(stopped, Start());
}

BackendResult ServiceBackend::UnloadLaunchdJob(const std::string& definition) {
  BackendResult result;
  QRBShellCommand* runner = QRBShellCommand::sharedShellCommand();
  if (runner == nullptr) {
    result.message = _("Programs cannot be run on this system.");
    return result;
  }
  const platform::Dictionary said = runner->launch(paths_.launchdtool, {"unload", definition});
  const std::string* output = said.StringFor(commandOutputKey);
  const std::string* error = said.StringFor(commandErrorKey);
  const std::string out = output ? Trimmed(*output) : std::string();
  const std::string err = error ? Trimmed(*error) : std::string();
  result.message = out + (out.empty() || err.empty() ? "" : "\n") + err;
  result.ok = said.IntegerFor(commandResultKey) == 0;
  return result;
}

}  // namespace tftpc
