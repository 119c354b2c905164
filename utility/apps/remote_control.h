// Launching and quitting an application on another machine over SSH. Each call fills a shell
// script template of the main bundle (Resources/LaunchAppOnRemoteMac.sh or
// Resources/QuitAppOnRemoteMac.sh) with its values and runs it; the template logs in with
// OpenSSH's ssh as the user and acts on the application with that desktop-entry ID there.
#pragma once

#include <optional>
#include <string>

#include "platform/plist/value.h"

// Error numbers of the dictionaries these calls make themselves. Other numbers are the
// script's exit status: see the templates, and platform::kShellNotRun.
inline constexpr int kInvalidRemotePassword = 1967;  // the password holds ":" or a composed letter
inline constexpr int kRemoteScriptMissing = -2;      // the template is missing or unreadable
inline constexpr int kRemoteScriptMalformed = -3;    // it does not take exactly four values
inline constexpr int kRemoteValueUnusable = -4;      // a value holds a zero byte

// Launches the application `appID` (a desktop-entry ID without ".desktop") on `machine` as
// `userName` (ssh's own choice when empty), logging in with `password`, or with the user's keys
// only when the password is empty.
// nullopt when `machine` is nullopt (nothing is done) and when the script ran without error;
// otherwise the error dictionary (keys platform::NSAppleScriptErrorNumber, ...BriefMessage,
// ...Message). A password holding ":" or a decomposable character is refused with
// kInvalidRemotePassword and the localized "errInvalidRAEPwd" text, before anything runs; one
// holding "@" is replaced by the empty password. Values reach the script as quoted shell
// words, whatever they hold; the password is never in a program's arguments or in a file.
std::optional<platform::Dictionary> LaunchAppOnRemoteMac(const std::string& appID,
                                                         const std::optional<std::string>& machine,
                                                         const std::string& userName,
                                                         const std::string& password);

// The same with the quitting template: each of the user's processes of the application there
// gets the termination signal; an application that does not run is no error.
std::optional<platform::Dictionary> QuitAppOnRemoteMac(const std::string& appID,
                                                       const std::optional<std::string>& machine,
                                                       const std::string& userName,
                                                       const std::string& password);
