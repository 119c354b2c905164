// Asks polkit, the system's authorization service, whether this process may run a program as
// root. The question is the one pkexec asks when it is started by this process to run that
// program: the same action, found by the program's "org.freedesktop.policykit.exec.path"
// annotation (else pkexec's own "org.freedesktop.policykit.exec"), for the same subject (this
// process). An authorization that polkit keeps ("auth_admin_keep") therefore serves both
// questions: the user is asked once, by the first of them.
//
// Every question to the daemon has a time limit, so that a daemon that never answers cannot
// hold the caller: a person at the authentication dialog gets minutes (5 by default), any other
// question seconds (10 by default). A daemon that cannot answer the quick questions asked
// before the dialog (the actions it knows) is never given the long wait.
//
// libpolkit-gobject-1 is loaded on the first question only, so that a program run as root, or
// never asking, neither loads it nor GLib's object and D-Bus libraries below it.
#pragma once

#include <chrono>
#include <string>

namespace platform {

enum class PolkitAnswer {
  kGranted,           // polkit says yes (by its rules, or by a kept or fresh authentication)
  kRefused,           // polkit says no, authentication or not
  kNeedsInteraction,  // polkit would say yes after authentication, which was not allowed
  kPkexecAsks,        // polkit would say yes after an authentication it does not keep: pkexec
                      // asks for it when it runs the program (never asked for here)
  kDismissed,         // the user dismissed the authentication dialog
  kUnavailable,       // no answer: no library, no system bus, no daemon, or none in time
};

// Whether this process may run `program` as root. With `allow_interaction` polkit may show the
// desktop's authentication dialog; without, the answer comes from what is granted already. An
// action whose authentication polkit does not keep (pkexec's own, auth_admin) never shows the
// dialog here: kPkexecAsks, so that the user is asked once, by pkexec.
// The subject is this process with its real user: a set-user-ID caller is asked about as the
// user who started it. *why (when not null) receives the reason for kUnavailable.
PolkitAnswer AskPolkitToRun(const std::string& program, bool allow_interaction,
                            std::string* why = nullptr);

// Tests only: the longest waits for the daemon, `quick` for every question nobody but the
// daemon answers, `interactive` for the check that may show the dialog. Zero restores the
// default of either.
void SetPolkitTimeoutsForTesting(std::chrono::milliseconds quick,
                                 std::chrono::milliseconds interactive);

}  // namespace platform
