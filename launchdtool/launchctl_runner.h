// Runs launchctl as our child and passes the head of its output on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The most of launchctl's standard output that is passed on.
inline constexpr std::size_t kOutputLimit = 1024;

// The folders searched for launchctl when the caller's own search path may not be used.
inline constexpr char kTrustedSearchPath[] = "/usr/bin:/bin:/usr/sbin:/sbin";

// Runs the first "launchctl" found in the absolute folders of `search_path` (a PATH-style list)
// with `args` (args[0] being "launchctl"). It gets an environment holding only
// PATH=`search_path`, umask 022, "/" as working folder, default signal handling with nothing
// blocked, and no descriptor but 0 and 2 (ours) and 1 (a pipe back to us).
//
// The first kOutputLimit bytes of its standard output are written to ours; the rest is read and
// dropped until launchctl closes its end, so it neither blocks on a full pipe nor dies of a
// closed one. When this returns, launchctl has ended and been reaped.
//
// Returns true with *exit_status when launchctl ran, exited and its output was passed on; false
// with *err when it could not be run, was killed by a signal, or our output could not be written.
bool RunLaunchctl(const std::string& search_path, const std::vector<std::string>& args,
                  int* exit_status, std::string* err);
