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

// The words of server_args, "-v" first and "-s FOLDER" last. Each word passes configtool's rules
// for a granted user once ProblemWith finds nothing (an IPv6 address stands in brackets, the
// umask in three octal digits). in.tftpd reads -a only when it listens by itself: under xinetd
// the address it listens on is xinetd's "bind" attribute, which -a does not change.
std::vector<std::string> ServerArgWords(const ServerOptions& options);
std::string ServerArgsLine(const ServerOptions& options);  // the words joined by one space
// The same with words ParseServerArgs did not know, `kept` in their order before "-s FOLDER".
std::vector<std::string> ServerArgWords(const ServerOptions& options,
                                        const std::vector<std::string>& kept);
std::string ServerArgsLine(const ServerOptions& options, const std::vector<std::string>& kept);
// Reads a server_args value back (any order, long forms too, "-i" read as "-s"). Words it does
// not know go to *unknown (kept when the line is written again), not an error. So do the options
// the controller does not offer, with their values (-u USER, -m with another rules file, -r...),
// A known option without a value it takes is an error (*err says which) and is left out, though
// *options holds everything else that was read. The folder is the last word that is no
// option nor an option's value; none is an error. `err` may be null.
bool ParseServerArgs(std::string_view line, ServerOptions* options,
                     std::vector<std::string>* unknown, std::string* err);
// Why these options cannot be served (a folder that is not absolute or holds white space, a
// umask above 0777, a range with first > last...), in words for the user; nullopt when fine.
std::optional<std::string> ProblemWith(const ServerOptions& options);

}  // namespace tftpc
