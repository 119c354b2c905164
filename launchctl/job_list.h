// What list shows: the jobs loaded, read back from the marks on their units, and launchd's
// text forms of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launchctl/translation.h"

namespace launchctl {

// A loaded job as its units' marker records it.
struct LoadedJob {
  std::string label;
  std::string definition;
  std::string program;  // Program, else the first argument
  std::vector<std::string> arguments;
  std::vector<std::string> units;  // names of its unit files
  std::string service;             // its service unit; ends in "@.service" for one per connection
};

// The job a unit of ours was made for; nothing when its marker names no label.
std::optional<LoadedJob> ReadMarker(const std::string& unit_text);

// Groups units of ours (from any folder) by label, in the order of their labels.
std::vector<LoadedJob> GroupByLabel(const std::vector<UnitFile>& units);

// The state systemd reports of a job's service.
struct JobState {
  std::optional<long> pid;  // while a process runs
  long last_exit_status = 0;
};

// launchd's old-style dictionary of one job ("list LABEL").
std::string DescribeJob(const LoadedJob& job, const JobState& state);

// One line of "list": PID (or "-"), status, label.
std::string ListLine(const LoadedJob& job, const JobState& state);

inline constexpr char kListHeader[] = "PID\tStatus\tLabel\n";

}  // namespace launchctl
