// The options of in.tftpd the controller offers, and the server_args line of the service file
// that carries them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tftpc {

enum class AddressFamily { kAny, kIPv4Only, kIPv6Only };  // none, -4, -6
struct PortRange {
  unsigned first = 0, last = 0;
  bool operator==(const PortRange&) const = default;
};  // -R first:last
struct ServerOptions {
  std::string folder = "/srv/tftp";       // -s FOLDER, always the last two words
  std::string listen_address;             // -a ADDRESS; empty: every address
  bool uploads = false;                   // -c: clients may create new files
  std::optional<unsigned> umask;          // -U (octal), with uploads
  bool permissive = false;                // -p
  std::optional<unsigned> block_size;     // -B largest block size
  std::optional<unsigned> idle_timeout;   // -t seconds
  std::optional<unsigned> retransmit_us;  // -T microseconds
  std::optional<PortRange> port_range;    // -R
  AddressFamily family = AddressFamily::kAny;
  bool map_names = false;  // -m /usr/share/qrb-tftp-controller/tftpd.remap
  bool operator==(const ServerOptions&) const = default;
};
inline constexpr const char* kRemapFile = "/usr/share/qrb-tftp-controller/tftpd.remap";

// The words of server_args, "-v" first and "-s FOLDER" last.
std::vector<std::string> ServerArgWords(const ServerOptions& options);
std::string ServerArgsLine(const ServerOptions& options);  // the words joined by one space
// Reads a server_args value back (any order, long forms too, "-i" read as "-s"). Words it does
// not know go to *unknown (kept when the line is written again), not an error.
bool ParseServerArgs(std::string_view line, ServerOptions* options,
                     std::vector<std::string>* unknown, std::string* err);
// Why these options cannot be served (a folder that is not absolute or holds white space, a
// umask above 0777, a range with first > last...), in words for the user; nullopt when fine.
std::optional<std::string> ProblemWith(const ServerOptions& options);

}  // namespace tftpc
