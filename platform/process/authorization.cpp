#include "platform/process/authorization.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/process/polkit_authority.h"
#include "platform/process/subprocess.h"

// What a reference holds: whether a stand-in helper of the tests granted the administrator
// right to it; the tools polkit last said yes to for it (polkit keeps the grant itself, but
// pkexec's refusal cannot be told from the tool's own exit status without this); and why the
// last request was refused without polkit's decision.
struct AuthorizationOpaqueRef {
  bool admin_granted = false;
  std::set<std::string> polkit_granted;
  std::string refusal_reason;
};

namespace {

constexpr const char* kPkexec = "/usr/bin/pkexec";
std::atomic<const char*> helper_for_testing{nullptr};

const char* PrivilegeHelper() {
  const char* helper = helper_for_testing.load();
  return helper ? helper : kPkexec;
}

bool HelperInstalled() {
  return access(PrivilegeHelper(), X_OK) == 0;
}

// pkexec ends with 126 when the user dismissed its authentication dialog and with 127 when
// the user may not run the tool as root (or the authentication failed): the tool never ran.
// Once polkit has said yes to the tool, these statuses are the tool's own (pkexec asks the
// same question and gets the same answer), and this is not asked.
OSStatus HelperVerdict(int wait_status) {
  if (!WIFEXITED(wait_status)) return errAuthorizationSuccess;
  if (WEXITSTATUS(wait_status) == 126) return errAuthorizationCanceled;
  if (WEXITSTATUS(wait_status) == 127) return errAuthorizationDenied;
  return errAuthorizationSuccess;
}

// A child started for a stream, and whether pkexec's exit status may be its refusal.
struct StreamChild {
  platform::ChildProcess process;
  bool helper_may_refuse = false;
};

// The children behind the streams handed out, reaped when their stream is closed. Never
// destroyed, so that leaving the process never waits on a child someone forgot.
struct StreamRegistry {
  std::mutex mutex;
  std::map<FILE*, StreamChild> children;
};

StreamRegistry& Streams() {
  static StreamRegistry* registry = new StreamRegistry;
  return *registry;
}

}  // namespace

namespace platform {
void SetPrivilegeHelperForTesting(const char* path) {
  helper_for_testing.store(path);
}

std::string AuthorizationRefusalReason(AuthorizationRef authorization) {
  return authorization ? authorization->refusal_reason : std::string();
}
}  // namespace platform

OSStatus AuthorizationCreate(const AuthorizationRights* rights, const void* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization) {
  if (!authorization) return errAuthorizationInvalidPointer;
  *authorization = nullptr;
  AuthorizationRef ref = new (std::nothrow) AuthorizationOpaqueRef;
  if (!ref) return errAuthorizationInternal;
  if (rights && rights->count > 0) {
    OSStatus status = AuthorizationCopyRights(ref, rights, environment, flags, nullptr);
    if (status != errAuthorizationSuccess) {
      delete ref;
      return status;
    }
  }
  *authorization = ref;
  return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const void* /*environment*/, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights) {
  if (!authorization) return errAuthorizationInvalidRef;
  authorization->refusal_reason.clear();
  if (authorizedRights) *authorizedRights = nullptr;  // granted rights are never copied out
  if (!rights || rights->count == 0) return errAuthorizationSuccess;
  if (!rights->items) return errAuthorizationInvalidPointer;
  for (std::uint32_t i = 0; i < rights->count; ++i) {
    const char* name = rights->items[i].name;
    if (!name || std::strcmp(name, kAuthorizationRightExecute) != 0) return errAuthorizationDenied;
  }
  if (geteuid() == 0) return errAuthorizationSuccess;
  if (!HelperInstalled()) {
    authorization->refusal_reason = std::string(PrivilegeHelper()) + " is not installed";
    return errAuthorizationDenied;
  }
  if (helper_for_testing.load()) {
    // A stand-in for pkexec stands in for polkit too: a right asked for with interaction is
    // granted and kept, and the stand-in's exit tells whether the user agreed.
    if (authorization->admin_granted) return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagExtendRights)) return errAuthorizationDenied;
    if (!(flags & kAuthorizationFlagInteractionAllowed))
      return errAuthorizationInteractionNotAllowed;
    authorization->admin_granted = true;
    return errAuthorizationSuccess;
  }
  // polkit is asked for each tool named, every time: what it grants, it keeps itself (for the
  // time its policy says), for this process, where pkexec's own check finds it. Without
  // extending the rights, only what polkit holds for us already counts.
  const bool interactive =
      (flags & kAuthorizationFlagInteractionAllowed) && (flags & kAuthorizationFlagExtendRights);
  for (std::uint32_t i = 0; i < rights->count; ++i) {
    const AuthorizationItem& item = rights->items[i];
    if (!item.value || item.valueLength == 0) return errAuthorizationDenied;
    std::string tool(static_cast<const char*>(item.value), item.valueLength);
    const platform::PolkitAnswer answer =
        platform::AskPolkitToRun(tool, interactive, &authorization->refusal_reason);
    if (answer == platform::PolkitAnswer::kGranted) {
      authorization->polkit_granted.insert(tool);
      continue;
    }
    authorization->polkit_granted.erase(tool);
    // pkexec asks the user itself, once; its refusal then reads as one.
    if (answer == platform::PolkitAnswer::kPkexecAsks && interactive) continue;
    switch (answer) {
      case platform::PolkitAnswer::kNeedsInteraction:
      case platform::PolkitAnswer::kPkexecAsks:
        return interactive ? errAuthorizationDenied : errAuthorizationInteractionNotAllowed;
      case platform::PolkitAnswer::kDismissed:
        return errAuthorizationCanceled;
      default:  // refused, or no answer (the reason is kept)
        return errAuthorizationDenied;
    }
  }
  return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags /*options*/, char* const* arguments,
                                            FILE** communicationsPipe) {
  if (communicationsPipe) *communicationsPipe = nullptr;
  if (!authorization) return errAuthorizationInvalidRef;
  if (!pathToTool) return errAuthorizationInvalidPointer;

  std::string program;
  std::vector<std::string> argv;
  bool helper_may_refuse = false;
  if (geteuid() == 0) {
    program = pathToTool;
  } else if (HelperInstalled()) {
    // pkexec would search PATH for a relative name.
    if (pathToTool[0] != '/') return errAuthorizationToolExecuteFailure;
    // A tool that is not there at all could not be started: pkexec's 127 would say so, but
    // that status may be the tool's own.
    struct stat info;
    if (stat(pathToTool, &info) != 0 && (errno == ENOENT || errno == ENOTDIR))
      return errAuthorizationToolExecuteFailure;
    program = PrivilegeHelper();
    argv.push_back(program);
    helper_may_refuse =
        helper_for_testing.load() || authorization->polkit_granted.count(pathToTool) == 0;
  } else {
    return errAuthorizationDenied;
  }
  argv.emplace_back(pathToTool);
  for (char* const* arg = arguments; arg && *arg; ++arg) argv.emplace_back(*arg);

  if (!communicationsPipe) {
    auto child = platform::Spawn(program, argv, platform::kNullDevice, platform::kNullDevice,
                                 platform::kInheritStream, nullptr);
    if (!child) return errAuthorizationToolExecuteFailure;
    int status = child->Wait();
    return helper_may_refuse ? HelperVerdict(status) : errAuthorizationSuccess;
  }

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return errAuthorizationInternal;
  platform::OwnedFd ours(pair[0]), theirs(pair[1]);
  FILE* stream = fdopen(ours.get(), "r+");
  if (!stream) return errAuthorizationInternal;
  ours.Release();  // the stream owns it now
  auto child =
      platform::Spawn(program, argv, theirs.get(), theirs.get(), platform::kInheritStream, nullptr);
  if (!child) {
    std::fclose(stream);
    return errAuthorizationToolExecuteFailure;
  }
  theirs.Reset();
  {
    std::lock_guard<std::mutex> lock(Streams().mutex);
    Streams().children.emplace(stream, StreamChild{std::move(*child), helper_may_refuse});
  }
  *communicationsPipe = stream;
  return errAuthorizationSuccess;
}

OSStatus AuthorizationCloseStream(FILE* communicationsPipe, int* childStatus) {
  StreamChild child;
  {
    std::lock_guard<std::mutex> lock(Streams().mutex);
    auto found = Streams().children.find(communicationsPipe);
    if (!communicationsPipe || found == Streams().children.end())
      return errAuthorizationInvalidPointer;
    child = std::move(found->second);
    Streams().children.erase(found);
  }
  std::fclose(communicationsPipe);  // the child sees the end of its input and output first
  int status = child.process.Wait();
  if (childStatus) *childStatus = status;
  return child.helper_may_refuse ? HelperVerdict(status) : errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
  if (!authorization) return errAuthorizationInvalidRef;
  if (flags & kAuthorizationFlagDestroyRights) authorization->admin_granted = false;
  delete authorization;
  return errAuthorizationSuccess;
}
