#include "tftp-controller/service/server_options.h"

#include <arpa/inet.h>
#include <libintl.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/text/string_format.h"
#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {
namespace {

// What each option of in.tftpd the controller knows takes after it.
// kKept: an option the controller does not offer, whose value is kept with it.
enum class Takes { kNothing, kNumber, kOctal, kRange, kFile, kKept };
struct Known {
  char letter;
  const char* long_name;
  Takes takes;
};
constexpr Known kKnown[] = {
    {'4', "--ipv4", Takes::kNothing},     {'6', "--ipv6", Takes::kNothing},
    {'c', "--create", Takes::kNothing},   {'s', "--secure", Takes::kNothing},
    {'i', nullptr, Takes::kNothing},      {'p', "--permissive", Takes::kNothing},
    {'v', "--verbose", Takes::kNothing},  {'U', "--umask", Takes::kOctal},
    {'t', "--timeout", Takes::kNumber},   {'T', "--retransmit", Takes::kNumber},
    {'B', "--blocksize", Takes::kNumber}, {'R', "--port-range", Takes::kRange},
    {'a', "--address", Takes::kKept},     {'m', "--map-file", Takes::kFile},
    {'u', "--user", Takes::kKept},        {'P', "--pidfile", Takes::kKept},
    {'r', "--refuse", Takes::kKept},      {'\0', "--verbosity", Takes::kKept},
};

// The option a word names: "-t", "--timeout", and with the value attached, "-t5" or
// "--timeout=5" (*attached then holds "5"). Null for any other word.
const Known* Lookup(std::string_view word, std::optional<std::string_view>* attached) {
  attached->reset();
  if (word.size() < 2 || word[0] != '-') return nullptr;
  if (word[1] == '-') {
    const std::size_t equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    for (const Known& known : kKnown) {
      if (known.long_name == nullptr || name != known.long_name) continue;
      if (equals != std::string_view::npos) {
        if (known.takes == Takes::kNothing) return nullptr;
        *attached = word.substr(equals + 1);
      }
      return &known;
    }
    return nullptr;
  }
  for (const Known& known : kKnown) {
    if (known.letter == '\0' || word[1] != known.letter) continue;
    if (word.size() == 2) return &known;
    if (known.takes == Takes::kNothing) return nullptr;  // "-vv", "-cp": not read apart
    *attached = word.substr(2);
    return &known;
  }
  return nullptr;
}

std::optional<unsigned> Number(std::string_view text, int base) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [at, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || at != end) return std::nullopt;
  return value;
}

std::optional<PortRange> Range(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::optional<unsigned> first = Number(text.substr(0, colon), 10);
  std::optional<unsigned> last = Number(text.substr(colon + 1), 10);
  if (!first || !last) return std::nullopt;
  return PortRange{*first, *last};
}

bool IsIPv4(const std::string& address) {
  in_addr binary;
  return inet_pton(AF_INET, address.c_str(), &binary) == 1;
}

// Applies one known option and its value; false when the value is not one it takes.
bool Apply(const Known& known, std::string_view value, ServerOptions* options) {
  if (known.takes == Takes::kNothing) {  // -s, -i and -v change nothing: always written
    if (known.letter == '4') options->family = AddressFamily::kIPv4Only;
    if (known.letter == '6') options->family = AddressFamily::kIPv6Only;
    if (known.letter == 'c') options->uploads = true;
    if (known.letter == 'p') options->permissive = true;
    return true;
  }
  switch (known.letter) {
    case 'U':
      return (options->umask = Number(value, 8)).has_value();
    case 't':
      return (options->idle_timeout = Number(value, 10)).has_value();
    case 'T':
      return (options->retransmit_us = Number(value, 10)).has_value();
    case 'B':
      return (options->block_size = Number(value, 10)).has_value();
    case 'R':
      return (options->port_range = Range(value)).has_value();
    case 'm':  // only with the package's rules file
      return options->map_names = true;
  }
  return false;
}

}  // namespace

std::vector<std::string> ServerArgWords(const ServerOptions& options,
                                        const std::vector<std::string>& kept) {
  // One -v logs each request; the second also logs the refusals ("File not found"), which
  // the transfer list needs. A transfer that ends well is logged at no verbosity.
  std::vector<std::string> words = {"-v", "-v"};
  if (options.family == AddressFamily::kIPv4Only) words.push_back("-4");
  if (options.family == AddressFamily::kIPv6Only) words.push_back("-6");
  if (options.uploads) words.push_back("-c");
  if (options.umask) {
    char octal[16];
    std::snprintf(octal, sizeof octal, "%03o", *options.umask);
    words.push_back("-U");
    words.push_back(octal);
  }
  if (options.permissive) words.push_back("-p");
  auto number = [&words](const char* option, const std::optional<unsigned>& value) {
    if (!value) return;
    words.push_back(option);
    words.push_back(std::to_string(*value));
  };
  number("-B", options.block_size);
  number("-t", options.idle_timeout);
  number("-T", options.retransmit_us);
  if (options.port_range) {
    words.push_back("-R");
    words.push_back(std::to_string(options.port_range->first) + ":" +
                    std::to_string(options.port_range->last));
  }
  if (options.map_names) {
    words.push_back("-m");
    words.push_back(kRemapFile);
  }
  words.insert(words.end(), kept.begin(), kept.end());
  words.push_back("-s");
  words.push_back(options.folder);
  return words;
}

std::vector<std::string> ServerArgWords(const ServerOptions& options) {
  return ServerArgWords(options, {});
}

std::string ServerArgsLine(const ServerOptions& options, const std::vector<std::string>& kept) {
  std::string line;
  for (const std::string& word : ServerArgWords(options, kept)) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  return line;
}

std::string ServerArgsLine(const ServerOptions& options) {
  return ServerArgsLine(options, {});
}

bool ParseServerArgs(std::string_view line, ServerOptions* options,
                     std::vector<std::string>* unknown, std::string* err) {
  *options = ServerOptions();
  options->folder.clear();
  unknown->clear();
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < line.size();) {
    if (line[at] == ' ' || line[at] == '\t') {
      ++at;
      continue;
    }
    const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  // The folder is the last word that is neither an option nor an option's value; any other
  // such word (a second folder, say) is kept where it stands, as are the options unknown here
  // and those the controller does not offer, with their values.
  std::vector<std::size_t> kept;
  std::optional<std::size_t> folder;
  bool fine = true;
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::optional<std::string_view> attached;
    const Known* known = Lookup(words[i], &attached);
    if (known == nullptr) {
      if (!words[i].starts_with('-')) {
        if (folder) kept.push_back(*folder);
        folder = i;
      } else {
        kept.push_back(i);
      }
      continue;
    }
    const std::size_t first = i;
    std::string_view value;
    if (attached) {
      value = *attached;
    } else if (known->takes != Takes::kNothing && i + 1 < words.size()) {
      value = words[++i];
    }
    if (known->takes == Takes::kKept || (known->takes == Takes::kFile && value != kRemapFile)) {
      for (std::size_t k = first; k <= i; ++k) kept.push_back(k);
    } else if (!Apply(*known, value, options)) {
      // Left out: the option keeps no value, and the line written again holds what the
      // controller sets in its place (configtool would refuse the words as they are).
      if (fine && err) {
        *err = Say(_("%@ is not followed by a value it takes (\"%@\")"),
                   {std::string(words[first]), std::string(value)});
      }
      fine = false;
    }
  }
  std::sort(kept.begin(), kept.end());
  for (std::size_t k : kept) unknown->emplace_back(words[k]);
  if (folder) {
    options->folder = std::string(words[*folder]);
  } else if (fine) {
    if (err) *err = _("the server's arguments name no served folder");
    fine = false;
  }
  return fine;
}

std::optional<std::string> ProblemWith(const ServerOptions& options) {
  const std::string& folder = options.folder;
  if (folder.empty() || folder[0] != '/')
    return Say(_("The served folder \"%@\" is not a full path (one that starts with /)."),
               {folder});
  for (unsigned char c : folder) {
    if (c == ' ' || c == '\t')
      return Say(_("The served folder \"%@\" holds a space, which the service file cannot "
                   "carry. Choose a folder without spaces in its path."),
                 {folder});
    if (c < 0x20 || c == 0x7f || std::strchr("#{}", c) != nullptr)
      return Say(_("The served folder \"%@\" holds a character the service file cannot "
                   "carry (#, { or }, or a control character)."),
                 {folder});
  }
  // xinetd listens for the service on IPv4 (the service file sets no IPv6 flag).
  const std::string& address = options.listen_address;
  if (!address.empty() && !IsIPv4(address))
    return Say(_("\"%@\" is not an IPv4 address of this machine."), {address});
  if (options.umask && *options.umask > 0777)
    return _("The umask is at most 777 (octal): three digits, each 0 to 7.");
  if (options.block_size && (*options.block_size < 512 || *options.block_size > 65464))
    return _("The largest block size must lie between 512 and 65464 bytes.");
  // 9 digits at most, as configtool takes them; 0 is fine (the server exits after each
  // transfer).
  if (options.idle_timeout && *options.idle_timeout > 999999999)
    return _("The idle time before the server exits is at most 999999999 seconds.");
  // in.tftpd refuses to serve with a retransmit timeout outside these bounds.
  if (options.retransmit_us &&
      (*options.retransmit_us < 10000 || *options.retransmit_us > 255000000))
    return _(
        "The retransmit timeout must lie between 10000 and 255000000 microseconds "
        "(0.01 to 255 seconds).");
  if (options.port_range) {
    const PortRange& range = *options.port_range;
    if (range.first < 1 || range.last > 65535)
      return _("The data ports must lie between 1 and 65535.");
    if (range.first > range.last)
      return Say(_("The data port range starts at %@, after its end %@."),
                 {std::to_string(range.first), std::to_string(range.last)});
  }
  return std::nullopt;
}

}  // namespace tftpc
