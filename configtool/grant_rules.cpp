#include "configtool/grant_rules.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <vector>

namespace configtool {

bool forGrantedUser = false;

namespace {

// The options of in.tftpd a granted user may give. Left out on purpose: --user (the server's
// user), --pidfile (a file it writes), --listen and --foreground (a standalone server, which the
// super-server or the service manager does not want), --refuse, --verbosity and --version.
// --address takes a literal address only (never a name to look up, never a port), and
// --map-file only the one rules file the package installs: any other file would be read by
// the server as root.
enum class Takes { kNothing, kOctal, kNumber, kPortRange, kAddress, kRulesFile };
struct Option {
  const char* short_name;
  const char* long_name;
  Takes takes;
};
constexpr std::array<Option, 13> kOptions = {{
    {"-4", "--ipv4", Takes::kNothing},
    {"-6", "--ipv6", Takes::kNothing},
    {"-c", "--create", Takes::kNothing},
    {"-s", "--secure", Takes::kNothing},
    {"-p", "--permissive", Takes::kNothing},
    {"-v", "--verbose", Takes::kNothing},
    {"-U", "--umask", Takes::kOctal},
    {"-t", "--timeout", Takes::kNumber},
    {"-T", "--retransmit", Takes::kNumber},
    {"-B", "--blocksize", Takes::kNumber},
    {"-R", "--port-range", Takes::kPortRange},
    {"-a", "--address", Takes::kAddress},
    {"-m", "--map-file", Takes::kRulesFile},
}};

const Option* FindOption(std::string_view word) {
  for (const Option& option : kOptions) {
    if (word == option.short_name || word == option.long_name) return &option;
  }
  return nullptr;
}

// 1 to `most` characters, each in `digits`.
bool AllOf(std::string_view word, std::size_t most, std::string_view digits) {
  return !word.empty() && word.size() <= most &&
         word.find_first_not_of(digits) == std::string_view::npos;
}

// A literal IPv4 address in dotted decimal, or an IPv6 address in square brackets (in.tftpd
// reads a colon outside brackets as the start of a port), without a zone or a port.
bool IsLiteralAddress(std::string_view word) {
  // The longest textual IPv6 address with an IPv4 tail is 45 characters.
  if (word.empty() || word.size() > 47) return false;
  char text[64];
  unsigned char binary[sizeof(in6_addr)];
  if (word.front() == '[' && word.back() == ']') {
    word = word.substr(1, word.size() - 2);
    word.copy(text, word.size());
    text[word.size()] = '\0';
    return inet_pton(AF_INET6, text, binary) == 1;
  }
  word.copy(text, word.size());
  text[word.size()] = '\0';
  return inet_pton(AF_INET, text, binary) == 1;
}

bool IsValue(Takes takes, std::string_view word) {
  switch (takes) {
    case Takes::kNothing:
      return false;
    case Takes::kOctal:
      return AllOf(word, 4, "01234567");
    case Takes::kNumber:
      return AllOf(word, 9, "0123456789");
    case Takes::kPortRange: {
      const std::size_t colon = word.find(':');
      return colon != std::string_view::npos && AllOf(word.substr(0, colon), 5, "0123456789") &&
             AllOf(word.substr(colon + 1), 5, "0123456789");
    }
    case Takes::kAddress:
      // inet_pton reads only up to a NUL: a word that holds one is no address.
      return word.find('\0') == std::string_view::npos && IsLiteralAddress(word);
    case Takes::kRulesFile:
      return word == kRulesFile;
  }
  return false;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The served folder: absolute, no control character (nor, in an xinetd line, a character that
// file's reader treats specially), and an existing folder.
std::string CheckFolder(const std::string& word, bool in_text_file) {
  if (word.empty() || word[0] != '/')
    return "the served folder \"" + word + "\" is not an absolute path";
  for (unsigned char c : word) {
    if (c < 0x20 || c == 0x7f || (in_text_file && std::strchr("#{}", c) != nullptr))
      return "the served folder holds a character that is not allowed there";
  }
  struct stat status;
  if (stat(word.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    return "the served folder " + word + " is not an existing folder";
  return "";
}

// The length of the line terminator the text ends with (LF, CR, CR LF, U+0085, U+2028,
// U+2029), or 0.
std::size_t TerminatorAtEnd(std::string_view text) {
  if (text.ends_with("\r\n")) return 2;
  if (text.ends_with("\n") || text.ends_with("\r")) return 1;
  if (text.ends_with("\xC2\x85")) return 2;
  if (text.ends_with("\xE2\x80\xA8") || text.ends_with("\xE2\x80\xA9")) return 3;
  return 0;
}

bool HoldsTerminator(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos ||
         text.find("\xC2\x85") != std::string_view::npos ||
         text.find("\xE2\x80\xA8") != std::string_view::npos ||
         text.find("\xE2\x80\xA9") != std::string_view::npos;
}

}  // namespace

bool RunsForGrantedUser(uid_t real, uid_t effective, const char* pkexec_uid) {
  if (effective != 0) return false;
  return real != 0 || (pkexec_uid != nullptr && std::strcmp(pkexec_uid, "0") != 0);
}

std::string CheckRequest(std::string_view path, int argument_count, std::string_view name) {
  if (argument_count == 5) {
    if (path != kServiceFile)
      return "a granted user may edit only " + std::string(kServiceFile) + " as a text file";
    if (name != "server_args" && name != "disable")
      return "a granted user may change only server_args and disable";
    return "";
  }
  if (path != kJobDefinition)
    return "a granted user may edit only " + std::string(kJobDefinition) + " as a property list";
  if (name != "ProgramArguments") return "a granted user may change only ProgramArguments";
  return "";
}

std::string CheckServerArguments(std::span<const std::string> words, bool in_text_file) {
  if (words.empty()) return "the server's arguments name no served folder";
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    const Option* option = FindOption(words[i]);
    if (option == nullptr) return "the server option \"" + words[i] + "\" is not allowed";
    if (option->takes == Takes::kNothing) continue;
    if (i + 2 >= words.size() || !IsValue(option->takes, words[i + 1])) {
      if (option->takes == Takes::kRulesFile)
        return "the server option \"" + words[i] + "\" is not allowed with any file but " +
               kRulesFile;
      if (option->takes == Takes::kAddress)
        return "the server option " + words[i] +
               " takes only a literal address (192.0.2.1, or [2001:db8::1]), without a port";
      return "the server option " + words[i] + " lacks a valid value";
    }
    ++i;
  }
  return CheckFolder(words.back(), in_text_file);
}

std::string CheckEditedLine(std::string_view name, std::string_view line, bool at_end) {
  const std::size_t terminator = TerminatorAtEnd(line);
  if (terminator == 0 && !at_end) return "the edit would join two lines";
  std::string_view content = line.substr(0, line.size() - terminator);
  if (HoldsTerminator(content)) return "the edit would make more than one line";

  // NAME = WORD..., with blanks (spaces and tabs) around the words.
  std::vector<std::string> words;
  for (std::size_t at = 0; at < content.size();) {
    if (IsBlank(content[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < content.size() && !IsBlank(content[end])) ++end;
    words.emplace_back(content.substr(at, end - at));
    at = end;
  }
  const std::string wanted = std::string(name) + " = VALUE";
  if (words.size() < 3 || words[0] != name || words[1] != "=")
    return "the edited line is not \"" + wanted + "\"";
  if (name == "disable") {
    if (words.size() != 3 || (words[2] != "yes" && words[2] != "no"))
      return "disable may only be yes or no";
    return "";
  }
  if (name != "server_args") return "a granted user may change only server_args and disable";
  return CheckServerArguments(std::span<const std::string>(words).subspan(2), true);
}

std::string CheckProgramArguments(const platform::Value& value) {
  if (!value.IsArray()) return "ProgramArguments must stay an array";
  const platform::Array& array = value.array();
  std::vector<std::string> words;
  for (const platform::Value& element : array) {
    if (!element.IsString()) return "ProgramArguments may hold only strings";
    words.push_back(element.string());
  }
  if (words.empty() || words[0] != kTftpServer)
    return "ProgramArguments must start with " + std::string(kTftpServer);
  return CheckServerArguments(std::span<const std::string>(words).subspan(1), false);
}

}  // namespace configtool
