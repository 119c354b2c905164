// The host application's version and folders, and other applications by bundle identifier:
// launching, quitting, and whether they run.
#pragma once

#include <string>

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
