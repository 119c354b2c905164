#include "xinetdtool/xinetd_control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "platform/files/owned_fd.h"
#include "platform/process/system_log.h"

const char* const xinetdExecutable = "/usr/sbin/xinetd";
const char* const xinetdPidFile = "/var/run/xinetd.pid";

std::unique_ptr<QRBShellCommand> shellCommand;

namespace xinetdtool {
namespace {

// A pid file holds a number and a newline; anything longer is not one.
constexpr std::size_t kMaxPidFileSize = 4096;

// Reads at most `limit` bytes of the regular file at `path` (relative to the folder `dir`, or
// to the working folder with AT_FDCWD); nullopt when it is missing, not a regular file,
// unreadable or longer than `limit`. Opening does not block on a FIFO, and nothing but a
// regular file is read.
std::optional<std::string> ReadSmallRegularFile(int dir, const std::string& path,
                                                std::size_t limit) {
  struct stat before;
  if (fstatat(dir, path.c_str(), &before, 0) != 0 || !S_ISREG(before.st_mode)) return std::nullopt;
  platform::OwnedFd fd(openat(dir, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return std::nullopt;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string text;
  char buf[1024];
  while (text.size() <= limit) {
    ssize_t n = read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return text;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return std::nullopt;
}

// The value of a "Key:\tvalue" line of a /proc status file, without its leading tabs.
std::optional<std::string> StatusField(const std::string& status, const std::string& key) {
  std::size_t at = status.starts_with(key + ":") ? 0 : status.find("\n" + key + ":");
  if (at == std::string::npos) return std::nullopt;
  at = status.find(':', at) + 1;
  while (at < status.size() && status[at] == '\t') ++at;
  std::size_t end = status.find('\n', at);
  return status.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::optional<pid_t> PidFromText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr long long kMax = std::numeric_limits<pid_t>::max();
  long long value = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    digits = true;
    value = value * 10 + (text[i] - '0');
    if (value > kMax) return std::nullopt;  // beyond any pid; stop before it can overflow
  }
  if (!digits || negative || value == 0) return std::nullopt;
  return static_cast<pid_t>(value);
}

std::optional<pid_t> ReadPidFile(const char* path) {
  std::optional<std::string> text = ReadSmallRegularFile(AT_FDCWD, path, kMaxPidFileSize);
  if (!text) return std::nullopt;
  return PidFromText(*text);
}

bool IsSuperServer(pid_t pid, const char* procRoot, const char* executable) {
  if (pid <= 0) return false;
  // The process's folder, opened once: what is read through it comes from the process that
  // held the pid then, or from none.
  const std::string path = std::string(procRoot) + "/" + std::to_string(pid);
  platform::OwnedFd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return false;
  if (geteuid() == 0) {
    // The file it runs, not the name it was started by. (After xinetd is upgraded the running
    // server's file is the replaced one, gone from the folder: it no longer counts.)
    struct stat running, installed;
    if (fstatat(dir.get(), "exe", &running, 0) != 0 || stat(executable, &installed) != 0 ||
        running.st_dev != installed.st_dev || running.st_ino != installed.st_ino)
      return false;
  }
  std::optional<std::string> comm = ReadSmallRegularFile(dir.get(), "comm", 64);
  if (!comm || (*comm != "xinetd\n" && *comm != "xinetd")) return false;
  std::optional<std::string> status = ReadSmallRegularFile(dir.get(), "status", 64 * 1024);
  if (!status) return false;
  // A zombie has stopped serving; it only waits to be reaped.
  std::optional<std::string> state = StatusField(*status, "State");
  if (!state || state->empty() || (*state)[0] == 'Z' || (*state)[0] == 'X') return false;
  // The super-server runs as root; a process of another user that merely bears the name is
  // not one to signal. The first of the ids is the real user id.
  std::optional<std::string> uids = StatusField(*status, "Uid");
  return uids && uids->starts_with("0\t");
}

Server FindServer() {
  std::optional<pid_t> pid = ReadPidFile(xinetdPidFile);
  if (!pid) return {};
  if (IsSuperServer(*pid)) return {ServerState::kRunning, *pid};
  if (geteuid() == 0) return {};
  // Alive (or refused to us, which means alive), yet its /proc entry hidden or closed to us.
  if (kill(*pid, 0) != 0 && errno != EPERM) return {};
  const std::string status = "/proc/" + std::to_string(*pid) + "/status";
  if (access(status.c_str(), R_OK) == 0) return {};  // seen, and not the server
  return {ServerState::kUninspectable, *pid};
}

}  // namespace xinetdtool

namespace {

// The launch's output text as the log shows it.
std::string OutputOf(const platform::Dictionary& result) {
  const std::string* output = result.StringFor(commandOutputKey);
  return output ? *output : std::string("(null)");
}

// Runs `path` as root through the tool's runner and logs `what` followed by its output. Without
// a runner nothing is launched and the log shows no output.
void LaunchAndLog(const char* what, const char* path, const std::vector<std::string>& args) {
  std::string output = "(null)";
  if (shellCommand) output = OutputOf(shellCommand->launchAsRoot(path, args));
  platform::NSLog(std::string(what) + output);
}

}  // namespace

pid_t XinetdPid() {
  return xinetdtool::FindServer().pid;
}

void StartXinetd() {
  const xinetdtool::Server server = xinetdtool::FindServer();
  if (server.state == xinetdtool::ServerState::kUninspectable) {
    // Starting another could not do any good: two servers would fight over the ports.
    platform::NSLog(std::string("Launching xinetd (Morvane) ... not launched: ") + xinetdPidFile +
                    " names process " + std::to_string(server.pid) +
                    ", which runs but cannot be inspected by this user");
    return;
  }
  if (server.state == xinetdtool::ServerState::kRunning) return;
  LaunchAndLog("Launching xinetd (Morvane) ... ", xinetdExecutable, {"-pidfile", xinetdPidFile});
}

void RestartXinetd() {
  pid_t pid = XinetdPid();
  if (pid == 0) {
    StartXinetd();
    return;
  }
  LaunchAndLog("Restarting xinetd (Morvane) ... ", "/bin/kill", {"-HUP", std::to_string(pid)});
}

void StopXinetd() {
  pid_t pid = XinetdPid();
  if (pid == 0) return;
  LaunchAndLog("Stopping xinetd (Morvane) ... ", "/bin/kill", {std::to_string(pid)});
}
