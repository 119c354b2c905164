// The host application's version and folders, and other applications by bundle identifier:
// launching, quitting, and whether they run.
#pragma once

#include <string>

#include "platform/apps/process_manager.h"
#include "platform/apps/workspace.h"

// A process as the process manager names it (two 32-bit halves: start time, pid), and its
// constants: kNoProcess in both halves names no process; procNotFound (-600) ends a walk.
using platform::kNoProcess;
using platform::ProcessSerialNumber;
using platform::procNotFound;

// Preference keys for the host; nothing in the library reads them.
extern const char* const appFirstLaunchKey;        // "AppFirstLaunch"
extern const char* const defaultFileCreatorKey;    // "DefaultFileCreator"
extern const char* const showDonationReminderKey;  // "ShowDonationReminder"

// The main bundle's "CFBundleVersion" read as a number: "2.1.3" gives 2.1, "3" gives 3; no
// version, or one that does not start with a number, gives 0.
float AppVersion();

// The user's library folder: the data home ($XDG_DATA_HOME, else ~/.local/share).
std::string UserLibraryPath();

// Where applications keep their support files: on Linux the data home itself, the same folder
// as UserLibraryPath ("Application Support" is no folder of a freedesktop system).
std::string UserAppSupportPath();

// Starts the application of desktop entry `bundleIdentifier` (its ID without ".desktop", as
// found in the XDG data folders) through GIO. Launch options keep their platform names
// (platform/apps/workspace.h says which GIO honours). When the launch fails, or the ID is
// not one a desktop entry can have (nothing is then looked up), a critical alert "Can't launch
// application" shows the ID and false is returned once it is closed.
bool LaunchApp(const std::string& bundleIdentifier,
               platform::NSWorkspaceLaunchOptions options = platform::NSWorkspaceLaunchDefault);

// Asks application `bundleIdentifier` to quit, then waits one second. Safely: each of its
// top-level X windows is asked to close as its close button asks; it may ask to save, or
// refuse. Not safely: its processes of the calling user get the termination signal (through a
// pidfd, each process's identity checked first), so nothing is saved. An application that is
// not installed or not running, or that gives no answer, is no error.
void QuitApp(const std::string& bundleIdentifier, bool safely);

// True when an application with exactly this ID (case counts) has a process of the user.
bool AppIsRunning(const std::string& bundleIdentifier);

// True when the active window of the X server belongs to this application; false with no X
// server.
bool AppIsActive(const std::string& bundleIdentifier);

// True when a process of the calling user has exactly this application ID; its serial number
// goes to *psn (when not null) only then. The walk stops at the first, lowest pid.
bool ProcessIsRunning(const std::string& bundleIdentifier, ProcessSerialNumber* psn);
