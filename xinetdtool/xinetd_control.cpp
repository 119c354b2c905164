#include "xinetdtool/xinetd_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/owned_fd.h"
#include "platform/process/system_log.h"
#include "xinetdtool/control_lock.h"

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

// The name the kernel gives the file `executable`: its folder with every link resolved.
std::string KernelName(const char* executable) {
  const std::string name(executable);
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos || slash == 0) return name;
  char* folder = realpath(name.substr(0, slash).c_str(), nullptr);
  if (folder == nullptr) return name;
  std::string out = std::string(folder) + name.substr(slash);
  std::free(folder);
  return out;
}

// Whether the process whose /proc folder is `dir` runs the file `executable`: that same file
// (device and inode), or the file that lay there until it was replaced or removed, as an
// upgrade of the package does to a running server. The kernel then names the file
// "PATH (deleted)", and no name leads to it any more.
bool RunsExecutable(int dir, const char* executable) {
  struct stat running, installed;
  if (fstatat(dir, "exe", &running, 0) != 0) return false;
  if (stat(executable, &installed) == 0 && running.st_dev == installed.st_dev &&
      running.st_ino == installed.st_ino)
    return true;
  if (running.st_nlink != 0) return false;  // a live file of another name
  char target[PATH_MAX + 16];
  const ssize_t n = readlinkat(dir, "exe", target, sizeof target);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return false;
  return std::string_view(target, static_cast<std::size_t>(n)) ==
         KernelName(executable) + " (deleted)";
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
  // The file it runs, not the name it was started by.
  if (geteuid() == 0 && !RunsExecutable(dir.get(), executable)) return false;
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

using xinetdtool::ServerState;

// Starts, restarts and stops take turns through this lock (root's alone).
constexpr char kLockFolder[] = "/run";
constexpr char kLockName[] = "xinetdtool.lock";
// Longer than a holder keeps it: one launch and one wait for the server.
constexpr std::chrono::seconds kLockWait(20);
// How long a new server may take to name itself in the pid file, and a stopped one to end.
constexpr std::chrono::seconds kServerWait(5);

constexpr char kLaunching[] = "Launching xinetd (Morvane) ... ";
constexpr char kRestarting[] = "Restarting xinetd (Morvane) ... ";
constexpr char kStopping[] = "Stopping xinetd (Morvane) ... ";

// The launch's output text as the log shows it.
std::string OutputOf(const platform::Dictionary& result) {
  const std::string* output = result.StringFor(commandOutputKey);
  return output ? *output : std::string("(null)");
}

// Runs `path` as root through the tool's runner and logs `what` followed by its output; true
// when the program was launched. Without a runner nothing is launched and the log shows no
// output.
bool LaunchAndLog(const char* what, const char* path, const std::vector<std::string>& args) {
  std::string output = "(null)";
  bool launched = false;
  if (shellCommand) {
    const platform::Dictionary result = shellCommand->launchAsRoot(path, args);
    output = OutputOf(result);
    launched = result.IntegerFor(commandResultKey) == 0;
  }
  platform::NSLog(std::string(what) + output);
  return launched;
}

// Waits, at most kServerWait, until the pid file names a server (or a process this user may
// not inspect), looking again at growing intervals (10 ms, doubled up to a quarter second).
bool AwaitServer() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kServerWait;
  std::chrono::milliseconds step(10);
  for (;;) {
    if (xinetdtool::FindServer().state != ServerState::kNone) return true;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<Clock::duration>(step, deadline - now));
    step = std::min(step * 2, std::chrono::milliseconds(250));
  }
}

// Waits, at most kServerWait, until the process of `pidfd` has ended.
bool AwaitEnd(int pidfd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kServerWait;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p = {pidfd, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

void Start() {
  const xinetdtool::Server server = xinetdtool::FindServer();
  if (server.state == ServerState::kUninspectable) {
    // Starting another could not do any good: two servers would fight over the ports.
    platform::NSLog(std::string(kLaunching) + "not launched: " + xinetdPidFile + " names process " +
                    std::to_string(server.pid) +
                    ", which runs but cannot be inspected by this user");
    return;
  }
  if (server.state == ServerState::kRunning) return;
  if (!LaunchAndLog(kLaunching, xinetdExecutable, {"-pidfile", xinetdPidFile})) return;
  // xinetd returns before its server may have written the pid file; until it has, the next
  // in turn would take the server for missing and start a second one.
  if (!AwaitServer())
    platform::NSLog(std::string(kLaunching) + "no server named in " + xinetdPidFile + " after " +
                    std::to_string(kServerWait.count()) + " seconds");
}

void Restart() {
  const pid_t pid = XinetdPid();
  if (pid == 0) {
    Start();
    return;
  }
  LaunchAndLog(kRestarting, "/bin/kill", {"-HUP", std::to_string(pid)});
}

void Stop() {
  const pid_t pid = XinetdPid();
  if (pid == 0) return;
  // Taken before the signal, while the process still is the server: the server's pid file can
  // outlast it, and until it has ended the next in turn would take it for running.
  platform::OwnedFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  if (!LaunchAndLog(kStopping, "/bin/kill", {std::to_string(pid)}) || !pidfd.valid()) return;
  if (!AwaitEnd(pidfd.get()))
    platform::NSLog(std::string(kStopping) + "process " + std::to_string(pid) + " still runs " +
                    std::to_string(kServerWait.count()) + " seconds after the termination signal");
}

// Runs `operation` in turn with every other xinetdtool, under the lock, when root. An ordinary
// user can take no lock in /run; such a user's xinetdtool launches through pkexec, and a lock
// an ordinary user could take is one any user could hold to keep root's xinetdtool waiting.
// When the lock cannot be had, logs `what` and the reason and runs nothing.
void InTurn(const char* what, void (*operation)()) {
  std::optional<xinetdtool::ControlLock> lock;
  if (geteuid() == 0) {
    std::string reason;
    lock = xinetdtool::ControlLock::Take(kLockFolder, kLockName, kLockWait, &reason);
    if (!lock) {
      platform::NSLog(std::string(what) + "not done: " + reason);
      return;
    }
  }
  operation();
}

}  // namespace

pid_t XinetdPid() {
  return xinetdtool::FindServer().pid;
}

void StartXinetd() {
  InTurn(kLaunching, Start);
}

void RestartXinetd() {
  InTurn(kRestarting, Restart);
}

void StopXinetd() {
  InTurn(kStopping, Stop);
}
