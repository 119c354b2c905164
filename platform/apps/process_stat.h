// What /proc/PID/stat tells of a process, read through an open folder of the process or by its
// pid, and whether the process is a live one of the calling user.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/files/owned_fd.h"

namespace platform {

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

// The stat file of process `pid`, read by name, as it was seen.
struct SeenProcessStat {
  ProcessStat stat;
  ino_t inode = 0;            // of the stat file
  bool shown_as_own = false;  // the file's owner is the calling user
};
// The same for a process named by its pid, and how its stat file was seen. The owner of a
// process's files is its effective user while it is alive and may be inspected, and root
// otherwise (a zombie, a process that changed its identity); the owner of its folder is its
// effective user in every case. What is read of the process afterwards must be read through its
// folder, opened then and checked against this start time.
std::optional<SeenProcessStat> OwnLiveProcessStatOfPid(pid_t pid);

// True when `pid_dir`, an open descriptor of /proc/PID, is of the process seen, and the calling
// user's: its stat file is the one seen (a process's files have inode numbers of their own), or,
// when that cannot tell, the process started when the one seen did.
bool IsSeenProcess(int pid_dir, const SeenProcessStat& seen);

// "PID/stat" in `path`: the name of a process's stat file below /proc.
void ProcessStatPath(pid_t pid, char (&path)[32]);

// A descriptor of /proc, opened at the first call.
int ProcFolder();

}  // namespace platform
