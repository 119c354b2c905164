#include "launchdtool/launchctl_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "launchdtool/unique_fd.h"

namespace {

constexpr char kProgram[] = "launchctl";

// The places to try, in order: "launchctl" in each absolute folder of the list. Relative and
// empty entries (the working folder) are skipped.
std::vector<std::string> Candidates(const std::string& search_path) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t colon = search_path.find(':', start);
    size_t end = colon == std::string::npos ? search_path.size() : colon;
    if (end > start && search_path[start] == '/')
      out.push_back(search_path.substr(start, end - start) + "/" + kProgram);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return out;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const std::string& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attr_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// A child that is reaped, at the latest when this goes out of scope.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() { Wait(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Waits for the child to end; returns its wait status.
  int Wait() {
    if (pid_ > 0) {
      while (waitpid(pid_, &status_, 0) < 0) {
        if (errno != EINTR) {
          status_ = W_EXITCODE(1, 0);
          break;
        }
      }
      pid_ = -1;
    }
    return status_;
  }

 private:
  pid_t pid_;
  int status_ = 0;
};

// Writes all of data, waiting when the descriptor was left non-blocking.
bool WriteAll(int fd, const char* data, size_t size, int* error) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, -1);
    } else if (n < 0 && errno != EINTR) {
      *error = errno;
      return false;
    }
  }
  return true;
}

// Reads into buf until it is full or the writer closed its end; returns the bytes read.
size_t ReadHead(int fd, char* buf, size_t size, bool* ended) {
  size_t have = 0;
  *ended = false;
  while (have < size) {
    ssize_t n = read(fd, buf + have, size - have);
    if (n > 0) {
      have += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      *ended = true;
      break;
    }
  }
  return have;
}

void Drain(int fd) {
  char scratch[4096];
  for (;;) {
    ssize_t n = read(fd, scratch, sizeof scratch);
    if (n == 0 || (n < 0 && errno != EINTR)) return;
  }
}

}  // namespace

bool RunLaunchctl(const std::string& search_path, const std::vector<std::string>& args,
                  int* exit_status, std::string* err) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *err = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);

  FileActions actions;
  SpawnAttributes attributes;
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  if (posix_spawn_file_actions_adddup2(actions.get(), write_end.get(), 1) != 0 ||
      posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0 ||
      posix_spawn_file_actions_addchdir_np(actions.get(), "/") != 0 ||
      posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) !=
          0 ||
      posix_spawnattr_setsigdefault(attributes.get(), &all) != 0 ||
      posix_spawnattr_setsigmask(attributes.get(), &none) != 0) {
    *err = "cannot prepare to run launchctl";
    return false;
  }
  std::vector<char*> argv = Pointers(args);
  std::vector<std::string> env_strings = {"PATH=" + search_path};
  std::vector<char*> envp = Pointers(env_strings);

  // The way the shell looks a command up: a folder without it, or where it may not be run, does
  // not end the search; any other failure does.
  pid_t pid = -1;
  int spawn_error = ENOENT;
  for (const std::string& candidate : Candidates(search_path)) {
    int rc = posix_spawn(&pid, candidate.c_str(), actions.get(), attributes.get(), argv.data(),
                         envp.data());
    if (rc == 0) break;
    pid = -1;
    if (rc == EACCES) {
      spawn_error = rc;
    } else if (rc != ENOENT && rc != ENOTDIR) {
      spawn_error = rc;
      break;
    }
  }
  if (pid <= 0) {
    if (spawn_error == ENOENT)
      *err = std::string(kProgram) + " not found in " + search_path;
    else
      *err = std::string(kProgram) + " could not be run: " + std::strerror(spawn_error);
    return false;
  }
  Child child(pid);
  write_end.Reset();  // launchctl holds its own copy; ours would keep the pipe from ending

  char head[kOutputLimit];
  bool ended = false;
  size_t have = ReadHead(read_end.get(), head, sizeof head, &ended);
  int write_error = 0;
  bool written = WriteAll(1, head, have, &write_error);
  // Read the rest away rather than closing our end: a closed end would kill launchctl with
  // SIGPIPE part way through its work, and a pipe nobody reads would stop it once full.
  if (!ended) Drain(read_end.get());
  read_end.Reset();

  int status = child.Wait();
  if (WIFSIGNALED(status)) {
    *err = std::string(kProgram) + " was killed by signal " + std::to_string(WTERMSIG(status));
    return false;
  }
  if (!written) {
    *err = std::string("cannot write launchctl's output: ") + std::strerror(write_error);
    return false;
  }
  *exit_status = WEXITSTATUS(status);
  return true;
}
