// The processes in the control groups that a launcher made for desktop applications, read from
// the control-group file system in one walk: far cheaper than each process's own cgroup file
// on a machine with thousands of processes, whose groups are few.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// pid -> the application ID of the group it sits in.
using ApplicationGroups = std::unordered_map<pid_t, std::string>;

// The folders where the unified control-group hierarchy (cgroup2) and systemd's own (the
// name=systemd hierarchy of older layouts) are mounted, in that order, from the text of
// /proc/self/mountinfo.
std::vector<std::string> CgroupHierarchies(std::string_view mountinfo);

// pid -> application ID of every process that sits in a group named as systemd names a desktop
// application's unit (app-[LAUNCHER-]ID-RANDOM.scope, app-[LAUNCHER-]ID[@RANDOM].service), for
// the hierarchies given (the first that places a pid wins). nullopt when none could be read.
std::optional<ApplicationGroups> ApplicationGroupMembers(
    const std::vector<std::string>& hierarchies);

// The same for the hierarchies this process sees.
std::optional<ApplicationGroups> ApplicationGroupMembers();

}  // namespace platform
