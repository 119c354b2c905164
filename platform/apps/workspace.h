// The workspace: applications named by desktop-entry ID, launched through GIO, and the
// applications of the calling user that run and that is active.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/apps/process_manager.h"
#include "platform/plist/value.h"

namespace platform {

// Launch options, with their usual names and values. GIO starts a new process of the entry's
// program each time (an entry that is activated over D-Bus asks its running instance) and
// returns once it is started, which is what NSWorkspaceLaunchDefault, NSWorkspaceLaunchAsync
// and NSWorkspaceLaunchNewInstance ask for; it has no way to honour the others, which are
// accepted and ignored.
using NSWorkspaceLaunchOptions = std::uint32_t;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAndPrint = 0x00000002;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchInhibitingBackgroundOnly = 0x00000080;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchWithoutAddingToRecents = 0x00000100;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchWithoutActivation = 0x00000200;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAsync = 0x00010000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAllowingClassicStartup = 0x00020000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchPreferringClassic = 0x00040000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchNewInstance = 0x00080000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAndHide = 0x00100000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchAndHideOthers = 0x00200000;
inline constexpr NSWorkspaceLaunchOptions NSWorkspaceLaunchDefault =
    NSWorkspaceLaunchAsync | NSWorkspaceLaunchAllowingClassicStartup;

// Keys of an application's dictionary.
inline constexpr const char* kApplicationBundleIdentifierKey = "NSApplicationBundleIdentifier";
inline constexpr const char* kApplicationNameKey = "NSApplicationName";  // the entry's Name
inline constexpr const char* kApplicationPathKey = "NSApplicationPath";  // the entry's file
inline constexpr const char* kApplicationProcessIdentifierKey = "NSApplicationProcessIdentifier";

class Workspace {
 public:
  // Starts the application of desktop entry `id` (its ID without ".desktop", as found in the
  // XDG data folders). False with a reason in *err when `id` is no desktop-entry ID (nothing is
  // looked up then), no such entry is installed, or it could not be started.
  static bool launchAppWithBundleIdentifier(std::string_view id, NSWorkspaceLaunchOptions options,
                                            std::string* err);

  // The file of desktop entry `id`, or nullopt.
  static std::optional<std::string> absolutePathForAppBundleWithIdentifier(std::string_view id);

  // One dictionary per application that has a process of the calling user, in the order of
  // their lowest pids: ID, name, entry file (when installed) and lowest pid.
  static Array launchedApplications();

  // The dictionary of the application whose window is active on the X server; nullopt with no
  // X server, no active window, or one whose application is unknown.
  static std::optional<Dictionary> activeApplication();

  // The serial numbers of the calling user's processes of application `id`, ascending by pid:
  // the first `most` of them (the walk stops there). None when `id` is no desktop-entry ID.
  static std::vector<ProcessSerialNumber> processesOfApplication(
      std::string_view id, std::size_t most = std::numeric_limits<std::size_t>::max());
};

}  // namespace platform
