// Puts back what a caller can lower for its own processes and that would otherwise pass through
// us to root's launchctl: resource limits, the nice value, the scheduling policy and the I/O
// priority.
#pragma once

#include <string>

// Sets every resource limit to that of process 1 (the values the kernel starts with where
// process 1 cannot be asked), the nice value to 0, the scheduling policy to the default
// time-sharing one and the I/O priority to none set. Must run as root. Where even root may not
// raise a hard limit (no CAP_SYS_RESOURCE, as in many containers), a limit may stay below
// process 1's, but never below what the kernel starts process 1 with. False with *err naming
// what could not be put back.
bool RestoreRootDefaults(std::string* err);
