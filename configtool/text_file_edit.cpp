#include "configtool/text_file_edit.h"

#include <algorithm>
#include <cstring>

#include "configtool/text_edit.h"
#include "platform/text/utf8.h"

namespace configtool {

namespace {

// Checks UTF-8 that arrives in pieces cut anywhere: a character cut at the end of one piece is
// completed from the next.
class Utf8Check {
 public:
  bool Feed(std::string_view bytes) {
    while (pending_ > 0 && pending_ < Needed() && !bytes.empty()) {
      held_[pending_++] = bytes.front();
      bytes.remove_prefix(1);
    }
    if (pending_ > 0) {
      if (pending_ < Needed()) return true;  // still incomplete
      if (!platform::IsValidUtf8(std::string_view(held_, pending_))) return false;
      pending_ = 0;
    }
    // A lead byte among the last three whose character runs past the end waits for the rest.
    std::size_t cut = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
      const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
      if (c < 0x80) break;
      if (c >= 0xC0) {
        if (LengthFor(c) > back) cut = bytes.size() - back;
        break;
      }
    }
    if (!platform::IsValidUtf8(bytes.substr(0, cut))) return false;
    pending_ = bytes.size() - cut;
    std::memcpy(held_, bytes.data() + cut, pending_);
    return true;
  }
  bool Complete() const { return pending_ == 0; }

 private:
  static std::size_t LengthFor(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  }
  std::size_t Needed() const { return LengthFor(static_cast<unsigned char>(held_[0])); }

  char held_[4] = {};
  std::size_t pending_ = 0;
};

}  // namespace

std::optional<TextFileEdit> PlanTextFileEdit(const BlockReader& read, std::string_view param,
                                             std::string_view old_value, std::string_view new_value,
                                             std::size_t block) {
  TextFileEdit edit;
  Utf8Check utf8;
  // buf[0, len) is the file from `base`, which starts a line, while the name is sought: the
  // lines that an occurrence not yet wholly read may fall in. No occurrence starts before
  // `search_from`; no line ends before `floor` (both in buf).
  std::string buf;
  std::uint64_t base = 0;
  std::size_t len = 0, search_from = 0, floor = 0, found_at = std::string::npos, scan_from = 0;
  const bool seeking = !param.empty();
  bool done = !seeking;  // the lines to edit are known (or there is nothing to seek)
  for (;;) {
    if (buf.size() < len + block) buf.resize(len + block);
    const long n = read(edit.size, buf.data() + len, block);
    if (n < 0) return std::nullopt;
    const bool end = n == 0;
    if (!utf8.Feed(std::string_view(buf.data() + len, static_cast<std::size_t>(n)))) {
      edit.utf8 = false;
      break;
    }
    edit.size += static_cast<std::uint64_t>(n);
    len += static_cast<std::size_t>(n);
    if (done) {
      len = 0;  // only checked
      if (end) break;
      continue;
    }
    const std::string_view view(buf.data(), len);
    if (found_at == std::string::npos) {
      found_at = FindLiteral(view, param, search_from, len);
      if (found_at != std::string::npos) scan_from = found_at + param.size() - 1;
    }
    if (found_at != std::string::npos) {
      // A line end at the very end of what was read may go on (a CR before an LF, a
      // terminator of several bytes): settled only at the end of the file or before that.
      const std::size_t line_end = LineEndOf(view, scan_from);
      if (line_end == len && !end) {
        scan_from = std::max(scan_from, len - std::min<std::size_t>(len, 3));
        continue;
      }
      const std::size_t line_start = LineStartOf(view, found_at);
      edit.found = true;
      edit.line_start = base + line_start;
      edit.line_end = base + line_end;
      edit.lines.assign(view.substr(line_start, line_end - line_start));
      const TextEdit in_lines = EditParameterLine(&edit.lines, param, old_value, new_value);
      edit.count = in_lines.count;
      done = true;
      len = 0;
      std::string(block, '\0').swap(buf);
    } else if (!end) {
      // Keep from the start of the line holding the first byte an occurrence could still
      // start at; never decide on a CR that is the last byte read.
      const std::size_t keep = std::min(len - std::min(len, param.size() - 1), len - 1);
      const std::size_t from = floor > 2 ? floor - 2 : 0;
      const std::size_t start = LineStartOf(view.substr(from), keep - from);
      search_from = keep;
      floor = keep;
      if (start > 0) {
        const std::size_t cut = from + start;
        std::memmove(buf.data(), buf.data() + cut, len - cut);
        base += cut;
        len -= cut;
        search_from -= cut;
        floor -= cut;
      }
    }
    if (end) break;
  }
  if (!utf8.Complete()) edit.utf8 = false;
  if (!edit.utf8) {
    edit = TextFileEdit();
    edit.utf8 = false;
  }
  return edit;
}

}  // namespace configtool
