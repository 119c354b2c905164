// Alerts: a modal message with one OK button. The one place where an application service shows
// something, through one seam: the services call RunCriticalAlertPanel, which hands the alert
// to the presenter installed, or writes it to standard error when none is. The widget library
// installs its panel (platform/widgets/alert_panel.h) in every program that links it, so the
// application services themselves never link a widget toolkit.
#pragma once

#include <string>

namespace platform {

// What an alert returns: the button that closed it.
inline constexpr int NSAlertDefaultReturn = 1;
inline constexpr int NSAlertAlternateReturn = 0;
inline constexpr int NSAlertOtherReturn = -1;
inline constexpr int NSAlertErrorReturn = -2;

// Shows an alert and returns the button that closed it.
using AlertPresenter = int (*)(const std::string& title, const std::string& message);

// Shows a critical alert with `title` and `message` (plain text, never markup) and one OK
// button, and waits until it is closed: what the presenter returns. Without a presenter,
// "title: message" goes to standard error instead: NSAlertDefaultReturn.
int RunCriticalAlertPanel(const std::string& title, const std::string& message);

// Installs `presenter` (nullptr: standard error) for every later alert of the process, and
// returns the one it replaces. Safe to call from any thread, and before main.
AlertPresenter SetAlertPresenter(AlertPresenter presenter);

// The presenter without a window system: "title: message" on standard error.
int WriteAlertToStandardError(const std::string& title, const std::string& message);

}  // namespace platform
