// Signals to processes named by serial number, sent through a pidfd so that a pid passed on to
// a later process is never signalled.
#pragma once

#include <string>
#include <string_view>

#include "platform/apps/process_manager.h"

namespace platform {

// Sends `signal` to the process `psn` names. The pidfd is opened first and the identity checked
// after: the process must still be the one of the serial number (pid and start time), be alive
// and the calling user's, and have the application ID `application_id` (any, when empty). A
// process that ended in between is not replaced by another: the pidfd still names the old one
// and the signal goes nowhere. False with a reason in *err when nothing was sent.
bool SignalProcess(const ProcessSerialNumber& psn, std::string_view application_id, int signal,
                   std::string* err);

}  // namespace platform
