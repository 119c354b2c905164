// The four authorization calls the command runner uses, with their constants, on Linux: the
// right is granted when the effective user is root; otherwise through polkit's pkexec where it
// is installed; otherwise refused.
#pragma once

#include <cstdint>
#include <cstdio>

using OSStatus = std::int32_t;
using AuthorizationFlags = std::uint32_t;

inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationDenied = -60005;
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

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const void* environment, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights);

// Starts the tool as root. Its standard input and output are one socket pair, handed back in
// *communicationsPipe (may be null: the child's input and output are /dev/null). The child is
// reaped when the stream is closed with AuthorizationCloseStream.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe);

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

