// Alerts: a modal message with one OK button.
#pragma once

#include <string>

namespace platform {

// What an alert returns: the button that closed it.
inline constexpr int NSAlertDefaultReturn = 1;
inline constexpr int NSAlertAlternateReturn = 0;
inline constexpr int NSAlertOtherReturn = -1;
inline constexpr int NSAlertErrorReturn = -2;

// Shows a critical alert with `title` and `message` (plain text, never markup) and one OK
// button, and waits until it is closed: NSAlertDefaultReturn. Without a QApplication, or off
// its thread, "title: message" goes to standard error instead, with the same result.
int RunCriticalAlertPanel(const std::string& title, const std::string& message);

}  // namespace platform
