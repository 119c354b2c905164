// Which application a process belongs to: its desktop-entry ID, proven from what the process
// cannot choose for itself (its control group, given by the launcher) before what it carries
// (its environment), or from Flatpak's record of the sandbox it runs in.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/apps/app_cgroups.h"
#include "platform/apps/process_stat.h"

namespace platform {

// True when `id` can name a desktop entry (its file name without ".desktop"): 1 to 247 ASCII
// letters, digits, '.', '_', '-' or '+', not starting with '.' or '-'. Nothing else is ever
// looked up or compared as an application ID.
bool IsDesktopEntryId(std::string_view id);

// The application ID in the name of a systemd unit made for a desktop application:
// app-[LAUNCHER-]ID[@RANDOM].service or app-[LAUNCHER-]ID-RANDOM.scope, where "-" inside a
// part is escaped ("\x2d"). nullopt for other units or names that are not unambiguous.
std::optional<std::string> ApplicationIdFromUnitName(std::string_view unit);

// The same, from the text of /proc/PID/cgroup: the leaf of the unified hierarchy ("0::"), else
// of systemd's own ("name=systemd").
std::optional<std::string> ApplicationIdFromCgroups(std::string_view cgroup_file);

// The ID of the desktop entry named by GIO_LAUNCHED_DESKTOP_FILE in an environment block
// (NUL-separated, as /proc/PID/environ holds it), taken only when GIO_LAUNCHED_DESKTOP_FILE_PID
// is `pid`: a child that merely inherited the variables is not the launched application.
std::optional<std::string> ApplicationIdFromEnvironment(std::string_view environment, pid_t pid);

// The desktop-entry ID of a desktop file's path: the part after the last "applications/"
// folder with "/" turned into "-", or the file name, without ".desktop".
std::optional<std::string> DesktopEntryIdFromPath(std::string_view path);

// The application name of a Flatpak sandbox's .flatpak-info (a key file).
std::optional<std::string> ApplicationIdFromFlatpakInfo(std::string_view key_file);

// The application ID of process `pid`, read through `pid_dir`, an open descriptor of
// /proc/PID: first found of its control group, its environment, its Flatpak sandbox.
std::optional<std::string> ProcessApplicationId(int pid_dir, pid_t pid);

// The same for a walk over many processes, at a fraction of the cost. `seen` is what the walk
// read of the process. With `groups` (the members of application groups at the walk's start),
// only a member's own cgroup file is read, to confirm it. What the environment and the sandbox
// tell stays the same while the process runs the same program (the same pid, start time and
// place of its environment), and is read once and kept. Reads go through the process's
// folder, opened when needed and checked against `seen`. False when the process is gone.
bool WalkApplicationId(pid_t pid, const SeenProcessStat& seen, const ApplicationGroups* groups,
                       std::optional<std::string>* id);

}  // namespace platform
