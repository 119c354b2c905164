#include "tftp-controller/system/transfer_log.h"

#include <libintl.h>

#include <algorithm>
#include <cctype>
#include <utility>

#define _(s) gettext(s)

namespace tftpc {

namespace {

constexpr std::size_t kMostOpen = 256;

bool Consume(std::string_view* text, std::string_view prefix) {
  if (text->substr(0, prefix.size()) != prefix) return false;
  text->remove_prefix(prefix.size());
  return true;
}

// syslog() callers may end a message with a newline; the journal and the syslog file keep it.
std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.remove_suffix(1);
  return text;
}

// What a refusal means to the user, from the TFTP error code and the server's words.
std::string RefusalWords(int code, std::string_view words) {
  switch (code) {
    case 1:
      return _("not found");
    case 0:
      if (words == "Permission denied") return _("access denied");
      break;
    case 2:
      return _("access denied");
    case 3:
      return _("disk full");
    case 6:
      return _("already exists");
    default:
      break;
  }
  std::string result(words);
  if (!result.empty())
    result[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(result[0])));
  return result;
}

}  // namespace

std::string PathBelow(const std::string& folder, std::string_view file) {
  // "." and empty parts change nothing, nor does a ".." at the root (the server's root is the
  // folder); any other ".." is kept, since where it leads depends on what exists.
  std::vector<std::string_view> parts;
  std::size_t depth = 0;
  while (!file.empty()) {
    const std::size_t slash = file.find('/');
    const std::string_view part = file.substr(0, slash);
    file = slash == std::string_view::npos ? std::string_view() : file.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (depth == 0) continue;
      --depth;
    } else {
      ++depth;
    }
    parts.push_back(part);
  }
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (std::string_view part : parts) {
    if (path != "/") path += '/';
    path += part;
  }
  return path;
}

void TransferLog::Add(std::int64_t time_usec, pid_t pid, std::string_view message,
                      const std::string& folder) {
  // A client names its file as it likes: control characters are not passed on to a display.
  std::string clean(TrimEnd(message));
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  std::string_view text = clean;
  // "RRQ from 127.0.0.1 filename boot.bin" [" remapped to BOOT.BIN"]
  const bool read = text.substr(0, 4) == "RRQ ";
  if (read || text.substr(0, 4) == "WRQ ") {
    text.remove_prefix(4);
    if (!Consume(&text, "from ")) return;
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return;
    TransferEvent event;
    event.time_usec = time_usec;
    event.client = std::string(text.substr(0, space));
    text.remove_prefix(space + 1);
    if (!Consume(&text, "filename ")) return;
    std::string_view looked_up = text;
    const std::size_t remapped = text.rfind(" remapped to ");
    if (remapped != std::string_view::npos) {
      looked_up = text.substr(remapped + 13);
      text = text.substr(0, remapped);
    }
    event.file = std::string(text);
    event.direction = read ? Direction::kRead : Direction::kWrite;
    // in.tftpd says nothing more of a transfer that went well.
    event.result = read ? _("sent") : _("received");
    Start(std::move(event), pid, std::string(looked_up));
    return;
  }
  // "sending NAK (1, File not found) to 127.0.0.1"
  if (Consume(&text, "sending NAK (")) {
    const std::size_t comma = text.find(", ");
    const std::size_t close = text.rfind(") to ");
    if (comma == std::string_view::npos || close == std::string_view::npos || close < comma) return;
    int code = -1;
    const std::string_view digits = text.substr(0, comma);
    if (!digits.empty() && digits.size() <= 5 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      code = std::stoi(std::string(digits));
    const std::string_view words = text.substr(comma + 2, close - comma - 2);
    Fail(pid, text.substr(close + 5), RefusalWords(code, words), code == 1, folder, time_usec);
    return;
  }
  // A transfer broken off: "tftpd: read(ack): Connection refused". ("tftp: client does not
  // accept options" is a note: the transfer goes on without them.)
  if (Consume(&text, "tftpd: ")) {
    if (open_.count(pid) != 0) Fail(pid, {}, std::string(text), false, folder, time_usec);
  }
}

const std::vector<TransferEvent>& TransferLog::events() const {
  return events_;
}

void TransferLog::Start(TransferEvent event, pid_t pid, std::string looked_up) {
  Trim();
  events_.push_back(std::move(event));
  open_[pid] = Open{events_.size() - 1, std::move(looked_up)};
  if (open_.size() > kMostOpen) {
    // Transfers that went well are never completed by a line: forget the oldest.
    auto oldest = std::min_element(open_.begin(), open_.end(), [](const auto& a, const auto& b) {
      return a.second.index < b.second.index;
    });
    open_.erase(oldest);
  }
}

void TransferLog::Fail(pid_t pid, std::string_view client, std::string result, bool not_found,
                       const std::string& folder, std::int64_t time_usec) {
  auto open = open_.find(pid);
  if (open == open_.end()) {
    // Refused before the request was logged (an unknown mode, a malformed packet).
    TransferEvent event;
    event.time_usec = time_usec;
    event.client = std::string(client);
    event.result = std::move(result);
    event.failed = true;
    Trim();
    events_.push_back(std::move(event));
    return;
  }
  TransferEvent& event = events_[open->second.index];
  event.result = std::move(result);
  event.failed = true;
  if (not_found) event.asked_path = PathBelow(folder, open->second.looked_up);
  open_.erase(open);
}

void TransferLog::Trim() {
  if (events_.size() < kMostEvents) return;
  const std::size_t drop = events_.size() / 2;
  events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(drop));
  for (auto it = open_.begin(); it != open_.end();) {
    if (it->second.index < drop) {
      it = open_.erase(it);
    } else {
      it->second.index -= drop;
      ++it;
    }
  }
}

}  // namespace tftpc
