#include "configtool/text_edit.h"

#include <string.h>

namespace configtool {
namespace {

unsigned char At(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// True when a line terminator ends with the byte at `i` (so a line starts at i + 1). A CR
// followed by LF does not end a line: the LF does.
bool TerminatorEndsAt(std::string_view text, std::size_t i) {
  switch (At(text, i)) {
    case '\n':
      return true;
    case '\r':
      return i + 1 >= text.size() || text[i + 1] != '\n';
    case 0x85:  // U+0085 is C2 85
      return i >= 1 && At(text, i - 1) == 0xC2;
    case 0xA8:  // U+2028 is E2 80 A8, U+2029 is E2 80 A9
    case 0xA9:
      return i >= 2 && At(text, i - 1) == 0x80 && At(text, i - 2) == 0xE2;
    default:
      return false;
  }
}

// The length of the line terminator that starts at `i`, or 0 when none does.
std::size_t TerminatorAt(std::string_view text, std::size_t i) {
  switch (At(text, i)) {
    case '\n':
      return 1;
    case '\r':
      return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    case 0xC2:
      return i + 1 < text.size() && At(text, i + 1) == 0x85 ? 2 : 0;
    case 0xE2:
      return i + 2 < text.size() && At(text, i + 1) == 0x80 &&
                     (At(text, i + 2) == 0xA8 || At(text, i + 2) == 0xA9)
                 ? 3
                 : 0;
    default:
      return 0;
  }
}

// The start of the line holding the byte at `pos`.
std::size_t LineStartOf(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) pos = text.size();
  // The LF of a CR LF belongs to the line the CR ends.
  if (pos > 0 && pos < text.size() && text[pos] == '\n' && text[pos - 1] == '\r') --pos;
  while (pos > 0 && !TerminatorEndsAt(text, pos - 1)) --pos;
  return pos;
}

// The end, past its terminator, of the line holding the byte at `pos`.
std::size_t LineEndOf(std::string_view text, std::size_t pos) {
  // A byte inside a multi-byte terminator: step back to the terminator's first byte.
  for (std::size_t back = 1; back <= 2 && back <= pos; ++back) {
    std::size_t length = TerminatorAt(text, pos - back);
    if (length > back) return pos - back + length;
  }
  for (; pos < text.size(); ++pos) {
    if (std::size_t length = TerminatorAt(text, pos)) return pos + length;
  }
  return text.size();
}

// The first occurrence of `needle` at or after `from`, or npos. glibc's memmem is linear in
// the haystack for any needle (two-way search for long needles).
std::size_t Find(std::string_view hay, std::string_view needle, std::size_t from, std::size_t to) {
  if (needle.empty() || from > to || to - from < needle.size()) return std::string_view::npos;
  const void* hit = memmem(hay.data() + from, to - from, needle.data(), needle.size());
  if (hit == nullptr) return std::string_view::npos;
  return static_cast<const char*>(hit) - hay.data();
}

}  // namespace

void LineBounds(std::string_view text, std::size_t begin, std::size_t end, std::size_t* start,
                std::size_t* stop) {
  *start = LineStartOf(text, begin);
  *stop = LineEndOf(text, end > begin ? end - 1 : begin);
}

TextEdit EditParameterLine(std::string_view text, std::string_view param,
                           std::string_view old_value, std::string_view new_value) {
  TextEdit edit;
  std::size_t at = Find(text, param, 0, text.size());
  if (at == std::string_view::npos) return edit;
  edit.found = true;
  LineBounds(text, at, at + param.size(), &edit.line_start, &edit.line_end);

  // One pass: copy the text up to each occurrence, then the new value in its place.
  std::string& out = edit.text;
  out.reserve(text.size() + (new_value.size() > old_value.size() ? text.size() / 8 : 0));
  std::size_t copied = 0;
  std::size_t from = edit.line_start;
  for (;;) {
    std::size_t hit = Find(text, old_value, from, edit.line_end);
    if (hit == std::string_view::npos) break;
    out.append(text.data() + copied, hit - copied);
    out.append(new_value);
    copied = from = hit + old_value.size();
    ++edit.count;
  }
  out.append(text.data() + copied, text.size() - copied);
  return edit;
}

}  // namespace configtool
