#include "launchdtool/launchctl_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

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

// Every signal below the real-time ones, the C library's own two (32 and 33) included.
// sigfillset and sigaddset leave those two out, and posix_spawn has the child ignore a signal it
// is not asked to put back to its default: launchctl would start with them ignored, since an
// ignored signal stays so across exec. The set's bits are the kernel's, one per signal, so they
// are set here directly; posix_spawn takes the set as given.
sigset_t AllSignals() {
  sigset_t set;
  sigfillset(&set);
  constexpr int kBits = 8 * sizeof set.__val[0];
  for (int sig = 1; sig < SIGRTMIN; ++sig)
    set.__val[(sig - 1) / kBits] |= 1UL << ((sig - 1) % kBits);
  return set;
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

// Passes the head of launchctl's output on to our standard output from a thread of its own,
// so that a caller who does not read what we write cannot hold launchctl back: we go on reading
// launchctl's output while this one waits for the caller.
class HeadWriter {
 public:
  explicit HeadWriter(const char* head) : head_(head) {}
  ~HeadWriter() { Finish(); }
  HeadWriter(const HeadWriter&) = delete;
  HeadWriter& operator=(const HeadWriter&) = delete;

  // Starts the thread; false when it cannot be had, and then Finish writes everything itself.
  bool Start() {
    try {
      thread_ = std::thread([this] { Run(); });
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  // The head now holds `size` bytes (never fewer than before).
  void Grow(size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    available_ = size;
    changed_.notify_one();
  }
  // Waits until the head is written or writing failed; 0, or the errno of the failed write.
  int Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
      changed_.notify_one();
    }
    if (thread_.joinable()) {
      thread_.join();
    } else {
      Run();
    }
    return error_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return written_ < available_ || done_; });
      if (written_ == available_ || error_ != 0) {
        if (done_) return;
        written_ = available_;  // after a failed write the rest is dropped
        continue;
      }
      const size_t from = written_, to = available_;
      lock.unlock();  // the bytes up to `to` no longer change
      ssize_t n = write(1, head_ + from, to - from);
      int error = n < 0 ? errno : 0;
      lock.lock();
      if (n > 0)
        written_ += static_cast<size_t>(n);
      else if (error != EINTR && error != EAGAIN)
        error_ = n < 0 ? error : EIO;
      else if (error == EAGAIN) {  // a caller's non-blocking descriptor: wait for room
        lock.unlock();
        pollfd p = {1, POLLOUT, 0};
        poll(&p, 1, -1);
        lock.lock();
      }
    }
  }

  const char* head_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t available_ = 0;
  size_t written_ = 0;
  bool done_ = false;
  int error_ = 0;
};

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
  const sigset_t all = AllSignals();
  sigset_t none;
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

  // The head goes to the caller while the rest is read and dropped until launchctl closes its
  // output: a closed end would kill it with SIGPIPE part way through its work, and a pipe
  // nobody reads would stop it once full.
  char head[kOutputLimit];
  size_t have = 0;
  HeadWriter writer(head);
  writer.Start();
  char scratch[4096];
  for (;;) {
    const bool filling = have < sizeof head;
    ssize_t n = read(read_end.get(), filling ? head + have : scratch,
                     filling ? sizeof head - have : sizeof scratch);
    if (n > 0) {
      if (filling) writer.Grow(have += static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  read_end.Reset();

  int status = child.Wait();
  // launchctl has ended: now we may wait for the caller to take our output.
  const int write_error = writer.Finish();
  if (WIFSIGNALED(status)) {
    *err = std::string(kProgram) + " was killed by signal " + std::to_string(WTERMSIG(status));
    return false;
  }
  if (write_error != 0) {
    *err = std::string("cannot write launchctl's output: ") + std::strerror(write_error);
    return false;
  }
  *exit_status = WEXITSTATUS(status);
  return true;
}
