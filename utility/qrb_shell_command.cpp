#include "utility/qrb_shell_command.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/socket.h>

#include <mutex>
#include <new>

#include "platform/process/subprocess.h"

const char* const commandOutputKey = "cmdOutput";
const char* const commandErrorKey = "cmdError";
const char* const commandResultKey = "cmdResult";

namespace {

constexpr int kPipeSize = 1 << 20;

platform::Value Number(int value) {
  return platform::Integer::FromSigned(value);
}

bool HoldsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

// Runs the program with three pipes, feeding `input` while both outputs are read. False with
// *why when it could not be started or its streams failed.
bool RunWithPipes(const std::string& path, const std::vector<std::string>& argv,
                  std::string_view input, std::string* output, std::string* error,
                  std::string* why) {
  platform::OwnedFd in_read, in_write, out_read, out_write, err_read, err_write;
  if (!platform::MakePipe(&in_read, &in_write, why) ||
      !platform::MakePipe(&out_read, &out_write, why) ||
      !platform::MakePipe(&err_read, &err_write, why)) {
    *why = path + ": " + *why;
    return false;
  }
  // Larger pipes mean fewer turns between a chatty child and us (best effort).
  fcntl(out_read.get(), F_SETPIPE_SZ, kPipeSize);
  fcntl(err_read.get(), F_SETPIPE_SZ, kPipeSize);
  std::optional<platform::ChildProcess> child =
      platform::Spawn(path, argv, in_read.get(), out_write.get(), err_write.get(), why);
  if (!child) return false;
  in_read.Reset();
  out_write.Reset();
  err_write.Reset();

  platform::StreamExchange exchange;
  exchange.input_fd = in_write.get();
  exchange.input = input;
  exchange.end_input = [&in_write] { in_write.Reset(); };
  exchange.output_fd = out_read.get();
  exchange.output = output;
  exchange.error_fd = err_read.get();
  exchange.error = error;
  bool exchanged = platform::ExchangeWithChild(exchange, why);
  if (!exchanged) *why = path + ": " + *why;
  // Our ends go first, so that a child still writing or reading cannot wait on us.
  in_write.Reset();
  out_read.Reset();
  err_read.Reset();
  child->Wait();
  return exchanged;
}

}  // namespace

QRBShellCommand* QRBShellCommand::sharedShellCommand() {
  static std::mutex mutex;
  static QRBShellCommand* sharedInstance = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (!sharedInstance) sharedInstance = Create().release();
  return sharedInstance;
}

std::unique_ptr<QRBShellCommand> QRBShellCommand::Create() {
  std::unique_ptr<QRBShellCommand> runner(new (std::nothrow) QRBShellCommand());
  if (!runner) return nullptr;
  OSStatus status = errAuthorizationDenied;
  status = AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults,
                               &runner->execAuthorizationRef);
  if (status != errAuthorizationSuccess) return nullptr;
  return runner;
}

QRBShellCommand::~QRBShellCommand() {
  if (execAuthorizationRef)
    AuthorizationFree(execAuthorizationRef, kAuthorizationFlagDestroyRights);
}

platform::Dictionary QRBShellCommand::launch(const std::string& path,
                                             const std::vector<std::string>& args,
                                             const std::optional<std::string>& stdInput) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(path);
  argv.insert(argv.end(), args.begin(), args.end());
  std::string output, error, why;
  bool ran = RunWithPipes(path, argv, stdInput ? std::string_view(*stdInput) : std::string_view(),
                          &output, &error, &why);

  platform::Dictionary result;
  if (!ran) {
    if (!error.empty() && error.back() != '\n') error.push_back('\n');
    error += why;
  }
  result.Set(commandOutputKey, std::move(output));
  result.Set(commandErrorKey, std::move(error));
  result.Set(commandResultKey, Number(ran ? 0 : -1));
  return result;
}

platform::Dictionary QRBShellCommand::launchAsRoot(const std::string& path,
                                                   const std::vector<std::string>& args,
                                                   const std::optional<std::string>& stdInput) {
  platform::Dictionary result;
  // The rights refused, by us or by pkexec: the program never ran. When polkit made no
  // decision (not there, not answering), the reason follows.
  auto refused = [&](const std::string& why) {
    std::string message = "Authentication failed for command " + path;
    if (!why.empty()) message += ": " + why;
    result.Set(commandOutputKey, std::move(message));
    result.Set(commandResultKey, Number(-2));
    return result;
  };
  if (!authAgent(path, 3)) {
    // A polkit that could not answer the silent question will not show a dialog either.
    std::string why = platform::AuthorizationRefusalReason(execAuthorizationRef);
    if (!why.empty()) return refused(why);
    if (!authAgent(path, 2))
      return refused(platform::AuthorizationRefusalReason(execAuthorizationRef));
  }
  auto unable = [&] {
    result.Set(commandOutputKey, "Unable to launch " + path + " with superuser privileges");
    result.Set(commandResultKey, Number(-1));
    return result;
  };
  // A NUL byte would cut the path or an argument short.
  if (HoldsNul(path)) return unable();
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    if (HoldsNul(arg)) return unable();
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  FILE* stream = nullptr;
  OSStatus status = AuthorizationExecuteWithPrivileges(
      execAuthorizationRef, path.c_str(), kAuthorizationFlagDefaults, argv.data(), &stream);
  if (status != errAuthorizationSuccess || !stream) return unable();

  // One stream carries both ways: the input is ended by shutting down our sending side, and
  // everything the child writes is read until the stream ends.
  const int fd = fileno(stream);
  std::string output, why;
  platform::StreamExchange exchange;
  exchange.input_fd = fd;
  if (stdInput) exchange.input = *stdInput;
  exchange.end_input = [fd] { shutdown(fd, SHUT_WR); };
  exchange.output_fd = fd;
  exchange.output = &output;
  bool exchanged = platform::ExchangeWithChild(exchange, &why);
  // pkexec's refusal (a dismissed dialog, a user not allowed) means the program never ran.
  status = AuthorizationCloseStream(stream);
  if (status == errAuthorizationCanceled || status == errAuthorizationDenied) return refused("");

  result.Set(commandOutputKey, std::move(output));
  if (!exchanged) result.Set(commandErrorKey, path + ": " + why);
  result.Set(commandResultKey, Number(0));
  return result;
}

bool QRBShellCommand::authAgent(const std::string& path, int action) {
  AuthorizationItem item = {kAuthorizationRightExecute, path.size(), const_cast<char*>(path.data()),
                            0};
  AuthorizationRights rights = {1, &item};
  AuthorizationFlags flags;
  if (action == 1)
    flags = kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights |
            kAuthorizationFlagPreAuthorize;
  else if (action == 2)
    flags = kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
  else
    flags = kAuthorizationFlagExtendRights;
  return AuthorizationCopyRights(execAuthorizationRef, &rights, nullptr, flags, nullptr) ==
         errAuthorizationSuccess;
}
