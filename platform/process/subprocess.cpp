#include "platform/process/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>

#include "platform/text/errno_text.h"

extern char** environ;

namespace platform {
namespace {

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Keeps SIGPIPE blocked in this thread while we write to a child that may have gone, and
// swallows the one our writes raised, so that the process's handling of it stays as it was.
class SigpipeHold {
 public:
  SigpipeHold() {
    sigemptyset(&pipe_only_);
    sigaddset(&pipe_only_, SIGPIPE);
    sigset_t pending;
    was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_only_, &previous_);
  }
  ~SigpipeHold() {
    sigset_t pending;
    if (raised_ && !was_pending_ && sigpending(&pending) == 0 &&
        sigismember(&pending, SIGPIPE) == 1) {
      const timespec no_wait = {0, 0};
      while (sigtimedwait(&pipe_only_, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeHold(const SigpipeHold&) = delete;
  SigpipeHold& operator=(const SigpipeHold&) = delete;
  void NoteRaised() { raised_ = true; }

 private:
  sigset_t pipe_only_;
  sigset_t previous_;
  bool was_pending_ = false;
  bool raised_ = false;
};

// Frees a posix_spawn file-actions object or attribute object when it goes.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

constexpr std::size_t kReadChunk = 1024 * 1024;
constexpr std::size_t kHugePage = 2u << 20;

// Appends to output that may grow to hundreds of megabytes. Past a few megabytes the capacity
// grows fourfold, so that less is copied and fewer fresh pages are cleared on the way (room not
// yet written costs only address space), and the buffer is asked to be backed by huge pages
// before it is first touched, which spares most of the page faults of filling it. False when
// memory runs out.
bool Append(std::string* sink, const char* data, std::size_t length) {
  try {
    const std::size_t needed = sink->size() + length;
    if (needed > sink->capacity() && needed >= 2 * kHugePage) {
      std::string bigger;
      try {
        bigger.reserve(std::max(needed, 4 * sink->capacity()));
      } catch (const std::exception&) {
        bigger.reserve(needed);
      }
      const auto start = reinterpret_cast<std::uintptr_t>(bigger.data());
      const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
      const std::uintptr_t end = (start + bigger.capacity()) & ~(kHugePage - 1);
      if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
      bigger.append(*sink);
      sink->swap(bigger);
    }
    sink->append(data, length);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool MakePipe(OwnedFd* read_end, OwnedFd* write_end, std::string* err) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    if (err) *err = "pipe: " + ErrnoText(errno);
    return false;
  }
  read_end->Reset(ends[0]);
  write_end->Reset(ends[1]);
  return true;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Wait();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(pid_, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  pid_ = -1;
  return reaped > 0 ? status : -1;
}

std::optional<ChildProcess> Spawn(const std::string& path, const std::vector<std::string>& argv,
                                  int stdin_fd, int stdout_fd, int stderr_fd, std::string* err) {
  auto fail = [&](int error) -> std::optional<ChildProcess> {
    if (err) *err = path + ": " + ErrnoText(error);
    return std::nullopt;
  };
  // A NUL byte would silently cut a path or argument short.
  bool has_nul = path.find('\0') != std::string::npos || path.empty() || argv.empty();
  for (const std::string& arg : argv) has_nul = has_nul || arg.find('\0') != std::string::npos;
  if (has_nul) return fail(EINVAL);

  // Descriptors below 3 would be overwritten by the child's own dup2 calls before being used.
  int streams[3] = {stdin_fd, stdout_fd, stderr_fd};
  OwnedFd raised[3];
  for (int i = 0; i < 3; ++i) {
    if (streams[i] >= 0 && streams[i] < 3) {
      raised[i].Reset(fcntl(streams[i], F_DUPFD_CLOEXEC, 3));
      if (!raised[i].valid()) return fail(errno);
      streams[i] = raised[i].get();
    }
  }

  SpawnSetup setup;
  for (int i = 0; i < 3; ++i) {
    int rc = 0;
    if (streams[i] >= 0)
      rc = posix_spawn_file_actions_adddup2(&setup.actions, streams[i], i);
    else if (streams[i] == kNullDevice)
      rc = posix_spawn_file_actions_addopen(&setup.actions, i, "/dev/null",
                                            i == 0 ? O_RDONLY : O_WRONLY, 0);
    if (rc != 0) return fail(rc);
  }
  if (int rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3); rc != 0)
    return fail(rc);

  sigset_t none, pipe_only;
  sigemptyset(&none);
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &pipe_only);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  // glibc reports a failed exec through the return value.
  int rc = posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, args.data(), environ);
  if (rc != 0) return fail(rc);
  return ChildProcess(pid);
}

bool ExchangeWithChild(const StreamExchange& x, std::string* err) {
  SigpipeHold sigpipe_hold;
  bool input_open = x.input_fd >= 0;
  std::size_t written = 0;
  auto end_input = [&] {
    if (!input_open) return;
    input_open = false;
    if (x.end_input) x.end_input();
  };
  auto failed = [&](const char* what, int error) {
    if (err) *err = std::string(what) + ": " + ErrnoText(error);
    end_input();
    return false;
  };

  int readers[2] = {x.output_fd, x.error_fd};
  std::string* sinks[2] = {x.output, x.error};
  for (int fd : {x.input_fd, x.output_fd, x.error_fd}) {
    if (fd >= 0 && !SetNonBlocking(fd)) return failed("fcntl", errno);
  }
  if (x.input.empty()) end_input();
  std::unique_ptr<char[]> buffer;

  while (input_open || readers[0] >= 0 || readers[1] >= 0) {
    pollfd polled[3];
    int count = 0;
    int writer_slot = -1, reader_slot[2] = {-1, -1};
    if (input_open) {
      writer_slot = count;
      polled[count++] = {x.input_fd, POLLOUT, 0};
    }
    for (int i = 0; i < 2; ++i) {
      if (readers[i] < 0) continue;
      reader_slot[i] = count;
      polled[count++] = {readers[i], POLLIN, 0};
    }
    if (poll(polled, count, -1) < 0) {
      if (errno == EINTR) continue;
      return failed("poll", errno);
    }
    if (writer_slot >= 0 && (polled[writer_slot].revents & POLLNVAL)) return failed("write", EBADF);
    if (writer_slot >= 0 && polled[writer_slot].revents != 0) {
      bool reader_gone = false;
      while (written < x.input.size()) {
        ssize_t n = write(x.input_fd, x.input.data() + written, x.input.size() - written);
        if (n > 0) {
          written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
          continue;
        } else if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
          sigpipe_hold.NoteRaised();  // the child has stopped reading: nothing more to give
          reader_gone = true;
          break;
        } else if (n < 0 && errno == EAGAIN) {
          break;
        } else {
          return failed("write", n < 0 ? errno : EIO);
        }
      }
      if (written == x.input.size() || reader_gone) end_input();
    }
    for (int i = 0; i < 2; ++i) {
      if (reader_slot[i] < 0 || polled[reader_slot[i]].revents == 0) continue;
      if (polled[reader_slot[i]].revents & POLLNVAL) return failed("read", EBADF);
      if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kReadChunk);
      for (;;) {
        ssize_t n = read(readers[i], buffer.get(), kReadChunk);
        if (n > 0) {
          if (sinks[i] && !Append(sinks[i], buffer.get(), static_cast<std::size_t>(n)))
            return failed("read", ENOMEM);
          if (static_cast<std::size_t>(n) < kReadChunk) break;  // drained for now
        } else if (n == 0 || errno == ECONNRESET) {
          readers[i] = -1;  // end of stream (a socket whose peer left unread input: the same)
          break;
        } else if (errno == EINTR) {
          continue;
        } else if (errno == EAGAIN) {
          break;
        } else {
          return failed("read", errno);
        }
      }
    }
  }
  return true;
}

}  // namespace platform
