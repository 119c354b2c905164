// Starts, restarts (hang-up signal) and stops the xinetd super-server with administrator rights.
// The pid file is the sign of a running server, but only a number naming a live xinetd run by
// root counts: a pid file can outlive its server, and its number can pass to another process.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string_view>

#include "utility/qrb_shell_command.h"

extern const char* const xinetdExecutable;  // "/usr/sbin/xinetd"
extern const char* const xinetdPidFile;     // "/var/run/xinetd.pid"

// The tool's own command runner, set by main for the run; the launches go through it.
extern std::unique_ptr<QRBShellCommand> shellCommand;

namespace xinetdtool {

// The leading integer of `text` read as a number is: leading white space, an optional sign,
// digits. Only a number above 0 within the range of pid_t is a pid; anything else is none.
std::optional<pid_t> PidFromText(std::string_view text);

// The pid held by the pid file at `path`: none when the file is missing, not a regular file,
// larger than a pid file can be, or holds no pid. Never blocks (a FIFO is not read).
std::optional<pid_t> ReadPidFile(const char* path);

// True when a process `pid` runs under `procRoot` (normally "/proc"): it exists and is no
// zombie, is named "xinetd" and has the real user id of root. Run by root, also its executable
// must be `executable` (the same file, not merely the same name): any set-user-ID program
// started through a link named xinetd is a root process of that name. A server started before
// an upgrade runs the file that lay at `executable` until it was replaced, which the kernel
// names "`executable` (deleted)": that counts too. An ordinary user cannot see another user's
// executable, and goes by the rest.
bool IsSuperServer(pid_t pid, const char* procRoot = "/proc",
                   const char* executable = xinetdExecutable);

// What the pid file says about the super-server.
enum class ServerState {
  kNone,     // no server runs (as far as anyone can tell)
  kRunning,  // the pid file names a live super-server
  // The pid names a process that runs but that this user may not look at (/proc mounted with
  // hidepid, a process of root's): it may well be the server.
  kUninspectable,
};
struct Server {
  ServerState state = ServerState::kNone;
  pid_t pid = 0;  // 0 with kNone
};
Server FindServer();

}  // namespace xinetdtool

// The pid of the running super-server, or 0 when the pid file names none. A process this user
// may not inspect counts as the server.
pid_t XinetdPid();

// Run as root, the three operations take turns: each holds the lock /run/xinetdtool.lock
// (waiting at most 20 seconds for it) while it reads the pid file and acts, so two starts at
// once cannot both find no server and start two. A start keeps the lock until the new server
// is named in the pid file, a stop until the server has ended (at most 5 seconds each). An
// ordinary user takes no lock. A lock that cannot be had is logged, and nothing is done.

// Starts xinetd unless it runs; logs the launch.
void StartXinetd();
// Sends xinetd a hang-up signal so that it rereads its configuration; starts it when it does
// not run.
void RestartXinetd();
// Sends xinetd the termination signal; nothing when it does not run.
void StopXinetd();
