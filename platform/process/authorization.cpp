#include "platform/process/authorization.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/process/polkit_authority.h"
#include "platform/process/subprocess.h"

// What a reference holds: whether a stand-in helper of the tests granted the administrator
// right to it. polkit keeps what it grants itself.
struct AuthorizationOpaqueRef {
  bool admin_granted = false;
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
OSStatus HelperVerdict(int wait_status) {
  if (!WIFEXITED(wait_status)) return errAuthorizationSuccess;
  if (WEXITSTATUS(wait_status) == 126) return errAuthorizationCanceled;
  if (WEXITSTATUS(wait_status) == 127) return errAuthorizationDenied;
  return errAuthorizationSuccess;
}

// A child started for a stream, and whether pkexec stands between us and the tool.
struct StreamChild {
  platform::ChildProcess process;
  bool through_helper = false;
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
  if (authorizedRights) *authorizedRights = nullptr;  // granted rights are never copied out
  if (!rights || rights->count == 0) return errAuthorizationSuccess;
  if (!rights->items) return errAuthorizationInvalidPointer;
  for (std::uint32_t i = 0; i < rights->count; ++i) {
    const char* name = rights->items[i].name;
    if (!name || std::strcmp(name, kAuthorizationRightExecute) != 0) return errAuthorizationDenied;
  }
  if (geteuid() == 0) return errAuthorizationSuccess;
  if (helper_for_testing.load()) {
    // A stand-in for pkexec stands in for polkit too: a right asked for with interaction is
    // granted and kept, and the stand-in's exit tells whether the user agreed.
    if (authorization->admin_granted) return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagExtendRights)) return errAuthorizationDenied;
    if (!(flags & kAuthorizationFlagInteractionAllowed))
      return errAuthorizationInteractionNotAllowed;
    if (!HelperInstalled()) return errAuthorizationDenied;
    authorization->admin_granted = true;
    return errAuthorizationSuccess;
  }
  if (!HelperInstalled()) return errAuthorizationDenied;
  // polkit is asked for each tool named, every time: what it grants, it keeps itself (for the
  // time its policy says), for this process, where pkexec's own check finds it. Without
  // extending the rights, only what polkit holds for us already counts.
  const bool interactive =
      (flags & kAuthorizationFlagInteractionAllowed) && (flags & kAuthorizationFlagExtendRights);
  for (std::uint32_t i = 0; i < rights->count; ++i) {
    const AuthorizationItem& item = rights->items[i];
    if (!item.value || item.valueLength == 0) return errAuthorizationDenied;
    std::string tool(static_cast<const char*>(item.value), item.valueLength);
    switch (platform::AskPolkitToRun(tool, interactive)) {
      case platform::PolkitAnswer::kGranted:
        break;
      case platform::PolkitAnswer::kRefused:
        return (flags & kAuthorizationFlagInteractionAllowed)
                   ? errAuthorizationDenied
                   : errAuthorizationInteractionNotAllowed;
      case platform::PolkitAnswer::kDismissed:
        return errAuthorizationCanceled;
      case platform::PolkitAnswer::kUnavailable:
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
  bool through_helper = false;
  if (geteuid() == 0) {
    program = pathToTool;
  } else if (HelperInstalled()) {
    // pkexec would search PATH for a relative name.
    if (pathToTool[0] != '/') return errAuthorizationToolExecuteFailure;
    program = PrivilegeHelper();
    argv.push_back(program);
    through_helper = true;
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
    return through_helper ? HelperVerdict(status) : errAuthorizationSuccess;
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
    Streams().children.emplace(stream, StreamChild{std::move(*child), through_helper});
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
  return child.through_helper ? HelperVerdict(status) : errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
  if (!authorization) return errAuthorizationInvalidRef;
  if (flags & kAuthorizationFlagDestroyRights) authorization->admin_granted = false;
  delete authorization;
  return errAuthorizationSuccess;
}
