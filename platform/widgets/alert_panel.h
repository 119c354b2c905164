// The critical alert as a QMessageBox: the presenter of platform/apps/alert.h in a Qt program.
#pragma once

#include <string>

namespace platform {

// Shows `title` and `message` (plain text, never markup) in a modal critical QMessageBox with
// one OK button and waits until it is closed: NSAlertDefaultReturn. Without a QApplication, or
// off its thread, the alert goes to standard error instead, with the same result.
int ShowAlertPanel(const std::string& title, const std::string& message);

}  // namespace platform

// Set before main, to true, in every program that links platform_widgets: the library names it
// to the linker (CMake and qrb-widgets.pc), so that this unit, and with it the panel as the
// process's alert presenter, is linked in even by a program that calls nothing of it.
extern "C" const bool qrb_alert_panel_installed;
