// Starting programs without a shell and exchanging data with them: descriptors and children
// held by RAII, standard streams driven all at once by poll.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/owned_fd.h"

namespace platform {

// Makes a pipe with both ends close-on-exec.
bool MakePipe(OwnedFd* read_end, OwnedFd* write_end, std::string* err);

// A child process of ours. It is reaped at the latest when this object goes away: the
// destructor waits for it to end, so close the descriptors it may be blocked on first.
class ChildProcess {
 public:
  ChildProcess() = default;
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Wait(); }

  pid_t pid() const { return pid_; }
  // Waits for the child to end and reaps it. Its wait status as waitpid(2) gives it, or -1
  // when there is no child (already reaped, or none was started).
  int Wait();

 private:
  pid_t pid_ = -1;
};

// What a child's standard stream is connected to: a descriptor of ours (duplicated into the
// child), or one of these.
inline constexpr int kInheritStream = -1;  // the same stream as ours
inline constexpr int kNullDevice = -2;     // /dev/null

// Starts the program at `path` exactly as given (no search of PATH, no shell) with the
// argument vector `argv` (argv[0] included) and our environment. Descriptors other than the
// three standard ones are not passed on; signals start with the default action for SIGPIPE and
// none blocked. nullopt when the program cannot be started, with *err naming the path and the
// reason ("/no/such: No such file or directory").
std::optional<ChildProcess> Spawn(const std::string& path, const std::vector<std::string>& argv,
                                  int stdin_fd, int stdout_fd, int stderr_fd, std::string* err);

// One exchange with a child over its standard streams. `input` is written to `input_fd` while
// `output_fd` and `error_fd` are read to their ends (into *output and *error), all at once,
// so that no stream can fill and stall the child. `end_input` is called exactly once, when the
// input is all written, at once when there is none, or when the reader has gone; it closes the
// pipe or shuts down the sending side of a socket. `output_fd` may equal `input_fd` (a socket
// carrying both); -1 leaves a stream out. A reader that goes away early is no error (no SIGPIPE
// reaches the process; the signal disposition is left as it was). False with *err on a failure
// of the streams themselves.
struct StreamExchange {
  int input_fd = -1;
  std::string_view input;
  std::function<void()> end_input;
  int output_fd = -1;
  std::string* output = nullptr;
  int error_fd = -1;
  std::string* error = nullptr;
};
bool ExchangeWithChild(const StreamExchange& exchange, std::string* err);

}  // namespace platform
