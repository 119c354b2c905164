// Asks polkit, the system's authorization service, whether this process may run a program as
// root. The question is the one pkexec asks when it is started by this process to run that
// program: the same action, found by the program's "org.freedesktop.policykit.exec.path"
// annotation (else pkexec's own "org.freedesktop.policykit.exec"), for the same subject (this
// process). An authorization that polkit keeps ("auth_admin_keep") therefore serves both
// questions: the user is asked once, by the first of them.
//
// libpolkit-gobject-1 is loaded on the first question only, so that a program run as root, or
// never asking, neither loads it nor GLib's object and D-Bus libraries below it.
#pragma once

#include <string>

namespace platform {

enum class PolkitAnswer {
  kGranted,      // polkit says yes (by its rules, or by a kept or fresh authentication)
  kRefused,      // polkit says no, or would have to ask and may not
  kDismissed,    // the user dismissed the authentication dialog
  kUnavailable,  // no polkit: the library, the system bus or the daemon did not answer
};

// Whether this process may run `program` as root. With `allow_interaction` polkit may show the
// desktop's authentication dialog; without, the answer comes from what is granted already.
// *why (when not null) receives polkit's error for kUnavailable.
PolkitAnswer AskPolkitToRun(const std::string& program, bool allow_interaction,
                            std::string* why = nullptr);

}  // namespace platform
