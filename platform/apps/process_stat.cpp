#include "platform/apps/process_stat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace platform {

namespace {

// The text of a stat file read in one call (the kernel makes it whole at each read), parsed.
std::optional<ProcessStat> ReadStat(int fd) {
  char buffer[2048];
  ssize_t n;
  do {
    n = read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::nullopt;
  return ParseProcessStat(std::string_view(buffer, static_cast<std::size_t>(n)));
}

bool Live(const ProcessStat& stat) {
  return stat.state != 'Z' && stat.state != 'X' && stat.state != 'x';
}

// Writes the decimal pid into `path`; returns where it ends.
char* PidPath(pid_t pid, char (&path)[32]) {
  char* end = std::to_chars(path, path + 16, pid).ptr;
  *end = '\0';
  return end;
}

}  // namespace

int ProcFolder() {
  static const OwnedFd proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return proc.get();
}

void ProcessStatPath(pid_t pid, char (&path)[32]) {
  memcpy(PidPath(pid, path), "/stat", 6);
}

std::optional<ProcessStat> ParseProcessStat(std::string_view stat) {
  // "pid (command) state ppid ...": the command may hold spaces and parentheses.
  std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = stat.substr(close + 1);
  ProcessStat result;
  // Fields from the third (state) on: the start time is the 22nd, the environment's place the
  // 50th and 51st.
  int field = 2;
  std::size_t i = 0;
  while (i < rest.size() && field < 51) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    std::size_t start = i;
    while (i < rest.size() && rest[i] != ' ' && rest[i] != '\n') ++i;
    if (start == i) break;
    ++field;
    std::string_view token = rest.substr(start, i - start);
    std::uint64_t* number = field == 22   ? &result.start_time
                            : field == 50 ? &result.env_start
                            : field == 51 ? &result.env_end
                                          : nullptr;
    if (field == 3) {
      result.state = token[0];
    } else if (number != nullptr) {
      auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), *number);
      if (ec != std::errc() || end != token.data() + token.size()) return std::nullopt;
    }
  }
  // The start time is the one field needed; older kernels show no environment fields.
  if (field < 22) return std::nullopt;
  if (field < 51) result.env_start = result.env_end = 0;
  return result;
}

std::optional<ProcessStat> ReadProcessStat(int pid_dir) {
  OwnedFd fd(openat(pid_dir, "stat", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  return ReadStat(fd.get());
}

OwnedFd OpenProcessFolder(pid_t pid) {
  if (pid <= 0) return OwnedFd();
  char path[32];
  PidPath(pid, path);
  return OwnedFd(openat(ProcFolder(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::optional<ProcessStat> OwnLiveProcessStat(int pid_dir) {
  struct stat st;
  if (fstat(pid_dir, &st) != 0 || st.st_uid != getuid()) return std::nullopt;
  std::optional<ProcessStat> stat = ReadProcessStat(pid_dir);
  if (!stat || !Live(*stat)) return std::nullopt;
  return stat;
}

bool IsSeenProcess(int pid_dir, const SeenProcessStat& seen) {
  struct stat file, folder;
  if (seen.inode != 0 && fstatat(pid_dir, "stat", &file, 0) == 0 && file.st_ino == seen.inode) {
    return fstat(pid_dir, &folder) == 0 && folder.st_uid == getuid();
  }
  std::optional<ProcessStat> now = OwnLiveProcessStat(pid_dir);
  return now && now->start_time == seen.stat.start_time;
}

std::optional<SeenProcessStat> OwnLiveProcessStatOfPid(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  char path[32];
  ProcessStatPath(pid, path);
  OwnedFd fd(openat(ProcFolder(), path, O_RDONLY | O_CLOEXEC));
  struct stat file;
  if (!fd.valid() || fstat(fd.get(), &file) != 0) return std::nullopt;
  if (file.st_uid != getuid()) {
    // Another user's, or one of ours that is a zombie or may not be inspected.
    PidPath(pid, path);
    struct stat folder;
    if (fstatat(ProcFolder(), path, &folder, 0) != 0 || folder.st_uid != getuid()) {
      return std::nullopt;
    }
  }
  // A process that died after the open reads as nothing.
  std::optional<ProcessStat> stat = ReadStat(fd.get());
  if (!stat || !Live(*stat)) return std::nullopt;
  return SeenProcessStat{*stat, file.st_ino, file.st_uid == getuid()};
}

}  // namespace platform
