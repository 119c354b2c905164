// What the back end's work left behind, as an ordinary user sees it in /proc: whether a UDP port
// is held, which in.tftpd a super-server started are alive, and whether xinetd runs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tftpc {

// True when a UDP socket (IPv4 or IPv6) is bound to `port`: proc/net/udp and proc/net/udp6.
bool UdpPortHeld(unsigned port, const std::string& proc = "/proc");

// The live (not zombie) processes named in.tftpd that listen on no socket of their own (no -l,
// -L, --listen or --foreground: started by a super-server, with its socket), lowest pid first.
std::vector<pid_t> SuperServerTftpds(const std::string& proc = "/proc");

// True when the pid file names a live process called xinetd, or one this user may not inspect
// (proc mounted with hidepid).
bool XinetdRuns(const std::string& pid_file, const std::string& proc = "/proc");

}  // namespace tftpc
