// What the kernel's process file system tells of UDP sockets and processes, read from a folder
// that stands for /proc (tests hand a crafted one), and xinetd's pid file checked against it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tftpc {

// One line of /proc/net/udp or udp6.
struct UdpSocket {
  std::string address;  // "0.0.0.0", "::", "127.0.0.1"
  unsigned port = 0;
  uid_t uid = 0;
  ino_t inode = 0;
};
// The sockets of the table `text` bound to `port`, in any state; lines that are not of the
// table's form are passed over.
std::vector<UdpSocket> ParseUdpTable(std::string_view text, unsigned port);

// What /proc/PID/stat tells: the command is between the first "(" and the last ")", since it
// may hold anything, parentheses and spaces too.
struct ProcessInfo {
  pid_t pid = 0;
  std::string comm;
  char state = '?';  // 'Z' a zombie, 'X' dead
  pid_t ppid = 0;
};
std::optional<ProcessInfo> ParseProcessStat(std::string_view stat);

// The systemd service whose cgroup holds a process, from the text of /proc/PID/cgroup
// ("0::/system.slice/tftpd-hpa.service" -> "tftpd-hpa.service"); empty when the process is in
// none, or in a scope below a service (a user's program under user@1000.service).
std::string ServiceUnitFromCgroup(std::string_view cgroup);

// False when the command line of an in.tftpd that listens by itself (-l, -L, --listen,
// --foreground; NUL-separated words, as /proc/PID/cmdline gives them) names an address or port
// (-a, --address: "ADDRESS", "ADDRESS:PORT", "[V6]:PORT", ":PORT"; port 69 when none is named)
// other than `socket`'s; true for any other command line, which says nothing of it.
bool CommandMayHold(std::string_view cmdline, const UdpSocket& socket);

// The contents of the regular file `name` below the open folder `dir`, at most `limit` bytes;
// nullopt when it cannot be opened or is no regular file. Never blocks on a FIFO.
std::optional<std::string> ReadSmallFile(int dir, const std::string& name, std::size_t limit);

// The pid of a live xinetd named by `pid_file`, seen under `proc`, or 0: a pid file can outlive
// its server and its number pass to another process, so only a process that runs (no zombie),
// is named xinetd and belongs to root counts.
pid_t LiveXinetd(const std::string& pid_file, const std::string& proc);

}  // namespace tftpc
