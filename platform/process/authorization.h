// The four authorization calls the command runner uses, with their constants, on Linux: the
// right is granted when the effective user is root; otherwise when polkit grants it, and the
// tool then runs through polkit's pkexec; otherwise refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

using OSStatus = std::int32_t;
using AuthorizationFlags = std::uint32_t;

inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationInvalidRef = -60002;
inline constexpr OSStatus errAuthorizationInvalidPointer = -60004;
inline constexpr OSStatus errAuthorizationDenied = -60005;
inline constexpr OSStatus errAuthorizationCanceled = -60006;
inline constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
inline constexpr OSStatus errAuthorizationInternal = -60008;
inline constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;

inline constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
inline constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1;
inline constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 2;
inline constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 16;
inline constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 8;

inline constexpr const char* kAuthorizationRightExecute = "system.privilege.admin";

struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;

struct AuthorizationItem {
  const char* name;
  std::size_t valueLength;
  void* value;
  std::uint32_t flags;
};

struct AuthorizationRights {
  std::uint32_t count;
  AuthorizationItem* items;
};

OSStatus AuthorizationCreate(const AuthorizationRights* rights, const void* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization);

// Grants "system.privilege.admin" (any other right is denied) for the tools named by the items'
// values (their paths). As root it is always granted. Otherwise pkexec must be installed and
// polkit is asked whether this process may take the action pkexec checks for each tool (see
// polkit_authority.h): with the user's interaction when kAuthorizationFlagInteractionAllowed
// and kAuthorizationFlagExtendRights are given, else silently, from what polkit holds already
// (an authorization it keeps, or its rules). Polkit keeps what it grants; the reference only
// notes the tools polkit last said yes to (see AuthorizationCloseStream). An item whose value
// is empty is denied without asking. errAuthorizationInteractionNotAllowed when polkit would
// have to ask and may not; errAuthorizationCanceled when the user dismisses its dialog;
// errAuthorizationDenied when it refuses or does not answer (no library, no system bus, no
// daemon, or no answer in time: see polkit_authority.h), the reason of the latter kept for
// platform::AuthorizationRefusalReason.
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const void* environment, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights);

// Starts the tool as root: directly when the effective user is root, else through
// "/usr/bin/pkexec" (an absolute tool path is then required), else errAuthorizationDenied. The
// path is executed as given, with no search of PATH. Its standard input and output are one
// socket pair (AF_UNIX, SOCK_STREAM), our end handed back in *communicationsPipe; standard
// error is inherited. Close that stream with AuthorizationCloseStream, never fclose: it also
// reaps the child. With communicationsPipe null the child's input and output are /dev/null and
// the call waits for it to end. errAuthorizationToolExecuteFailure when the tool cannot be
// started (no such file, not executable).
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe);

// Closes a stream from AuthorizationExecuteWithPrivileges and waits for its child to end.
// *childStatus (when not null) receives the child's wait status as waitpid(2) gives it.
// errAuthorizationInvalidPointer for a stream that did not come from there (left untouched).
// When the tool was started through pkexec, pkexec's own refusal is a refusal, not a run:
// errAuthorizationCanceled when the user dismissed its dialog (it exits with 126),
// errAuthorizationDenied when the user is not authorised (127). Not so once polkit has said
// yes to that tool for this reference (AuthorizationCopyRights): pkexec asks the same
// question and is given the same yes, so 126 and 127 are then the tool's own exit status. The
// same holds for the call above when it waits for the tool itself, which also refuses a tool
// that does not exist (errAuthorizationToolExecuteFailure) rather than have pkexec try.
OSStatus AuthorizationCloseStream(FILE* communicationsPipe, int* childStatus = nullptr);

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

namespace platform {
// Why the last AuthorizationCopyRights on `authorization` was refused when polkit made no
// decision: "/usr/bin/pkexec is not installed", "polkit is not running", "polkit did not
// answer within 10 seconds", ... Empty when the right was granted, or refused by polkit or the
// user.
std::string AuthorizationRefusalReason(AuthorizationRef authorization);

// Tests only: the program that asks for administrator rights when we are not root, in place of
// "/usr/bin/pkexec" (null restores it). It is started as `helper tool args...`. While one is
// set it stands in for polkit too: polkit is not asked, a right asked for with interaction is
// granted and kept by the reference, and the stand-in decides when it runs.
void SetPrivilegeHelperForTesting(const char* path);
}  // namespace platform
