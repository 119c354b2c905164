// The process manager: the calling user's processes in ascending order of pid, each named by a
// serial number that no later process with the same pid can share, with its application.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files/owned_fd.h"
#include "platform/plist/value.h"

namespace platform {

// A process: high half its start time in clock ticks since boot (truncated to 32 bits), low
// half its pid. Both 0 (kNoProcess) names no process and starts a walk.
struct ProcessSerialNumber {
  std::uint32_t highLongOfPSN = 0;
  std::uint32_t lowLongOfPSN = 0;
  friend bool operator==(const ProcessSerialNumber&, const ProcessSerialNumber&) = default;
};

using OSErr = std::int16_t;
inline constexpr std::uint32_t kNoProcess = 0;
inline constexpr OSErr noErr = 0;
inline constexpr OSErr procNotFound = -600;  // the end of the process list, or no such process
inline constexpr std::uint32_t kProcessDictionaryIncludeAllInformationMask = 0xFFFFFFFFu;

// Keys of a process's information dictionary.
inline constexpr const char* kProcessPidKey = "pid";                              // integer
inline constexpr const char* kProcessBundleIdentifierKey = "CFBundleIdentifier";  // when known

// Advances *psn to the next live process of the calling user (the first one when *psn is
// kNoProcess): noErr, or procNotFound at the end of the list. Zombies are skipped. A walk reads
// /proc once at its start and then each process once.
OSErr GetNextProcess(ProcessSerialNumber* psn);

// The information of the process *psn names: its pid, and its application ID when it has one.
// nullopt when that process is gone (its pid is free or held by a later process).
std::optional<Dictionary> ProcessInformationCopyDictionary(const ProcessSerialNumber* psn,
                                                           std::uint32_t info_to_return);

// What /proc/PID/stat tells of a process.
struct ProcessStat {
  char state = '?';              // 'Z' zombie, 'X' dead, ...
  std::uint64_t start_time = 0;  // clock ticks since boot
  // Where the program's environment lies in its memory (0 when not shown): they change with
  // each program the process runs.
  std::uint64_t env_start = 0, env_end = 0;
};
// Parses the text of /proc/PID/stat (whose second field, the command, may hold anything).
std::optional<ProcessStat> ParseProcessStat(std::string_view stat);

// Reads /proc/PID/stat through `pid_dir`, an open descriptor of /proc/PID.
std::optional<ProcessStat> ReadProcessStat(int pid_dir);

// An open descriptor of /proc/PID: what is read through it comes from the process that held
// the pid when it was opened, or from none (once that process is gone).
OwnedFd OpenProcessFolder(pid_t pid);

// What /proc/PID/stat tells of the process of `pid_dir` when it is alive (no zombie) and the
// calling user's (the owner of its /proc folder, its effective user while it may be inspected).
std::optional<ProcessStat> OwnLiveProcessStat(int pid_dir);

// The serial number of the live process `pid` has now, if it is one of the calling user's.
std::optional<ProcessSerialNumber> SerialNumberOfPid(pid_t pid);

}  // namespace platform
