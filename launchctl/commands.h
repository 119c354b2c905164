// launchctl's commands: each returns the program's exit status, its messages written to
// standard error and its results to standard output.
#pragma once

#include <string>

namespace launchctl {

// load [-w] FILE: the job's units made and started (with -w: in the persistent folder and
// enabled, a Disabled job too).
int Load(const std::string& definition, bool persistent);

// unload [-w] FILE: the job stopped, its runtime units removed (with -w: its persistent units
// disabled and removed as well).
int Unload(const std::string& definition, bool persistent);

// list [LABEL]
int List(const std::string& label);
int ListAll();

}  // namespace launchctl
