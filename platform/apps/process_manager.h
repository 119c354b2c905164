// The process manager: the calling user's processes in ascending order of pid, each named by a
// serial number that no later process with the same pid can share, with its application.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/apps/process_stat.h"
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
// /proc once at its start and then each process once: for an ordinary user, a process that an
// earlier walk of the same thread met after it had run for the settling time costs one look at
// the owner of its stat file.
OSErr GetNextProcess(ProcessSerialNumber* psn);

// How long a process must have run before walks keep what they read of it (5 s).
void SetProcessSettlingTime(std::chrono::milliseconds time);

// The information of the process *psn names: its pid, and its application ID when it has one.
// nullopt when that process is gone (its pid is free or held by a later process).
std::optional<Dictionary> ProcessInformationCopyDictionary(const ProcessSerialNumber* psn,
                                                           std::uint32_t info_to_return);

// The serial number of the live process `pid` has now, if it is one of the calling user's.
std::optional<ProcessSerialNumber> SerialNumberOfPid(pid_t pid);

}  // namespace platform
