#include "configtool/text_edit.h"

#include <string.h>

#include <cstdint>
#include <cstring>

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

// True when one of the eight bytes at `p` is LF, CR or not ASCII, so may belong to a line
// terminator; lets the scans below pass over plain text eight bytes at a time.
bool MayHoldTerminator(const char* p) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  auto has_zero_byte = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHigh) != 0; };
  return (w & kHigh) != 0 || has_zero_byte(w ^ (kOnes * '\n')) || has_zero_byte(w ^ (kOnes * '\r'));
}

// Needles up to this long are searched in line: dense occurrences (a value repeated along a
// line) then cost no library call each, and the work per byte stays below this bound.
constexpr std::size_t kShortNeedle = 16;

bool SameBytes(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Short runs byte by byte: a library call for each of millions of replacements costs more
// than the copy itself.
void MoveBytes(char* to, const char* from, std::size_t n) {
  if (n > kShortNeedle) {
    std::memmove(to, from, n);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
}

// Replaces the occurrences in [from, to) in place, moving the rest of the text up behind them.
// Only for a new value no longer than the old one: what is written never overtakes what is
// still to be read.
std::size_t ReplaceShrinking(std::string* text, std::size_t from, std::size_t to,
                             std::string_view old_value, std::string_view new_value) {
  char* data = text->data();
  std::size_t count = 0;
  if (new_value.size() == old_value.size()) {  // nothing moves
    for (std::size_t at = from;
         (at = FindLiteral(*text, old_value, at, to)) != std::string_view::npos;
         at += old_value.size()) {
      MoveBytes(data + at, new_value.data(), new_value.size());
      ++count;
    }
    return count;
  }
  std::size_t read = from, write = from;
  for (std::size_t hit;
       (hit = FindLiteral(*text, old_value, read, to)) != std::string_view::npos;) {
    MoveBytes(data + write, data + read, hit - read);
    write += hit - read;
    MoveBytes(data + write, new_value.data(), new_value.size());
    write += new_value.size();
    read = hit + old_value.size();
    ++count;
  }
  if (write != read) {
    std::memmove(data + write, data + read, text->size() - read);
    text->resize(write + (text->size() - read));
  }
  return count;
}

// Counts the occurrences, builds the edited lines apart at their final size and puts them in
// place of the old ones.
std::size_t ReplaceGrowing(std::string* text, std::size_t from, std::size_t to,
                           std::string_view old_value, std::string_view new_value) {
  std::size_t count = 0;
  for (std::size_t at = from;
       (at = FindLiteral(*text, old_value, at, to)) != std::string_view::npos;
       at += old_value.size()) {
    ++count;
  }
  if (count == 0) return 0;
  std::string lines(to - from + count * (new_value.size() - old_value.size()), '\0');
  char* out = lines.data();
  std::size_t read = from;
  for (std::size_t n = 0; n < count; ++n) {
    std::size_t hit = FindLiteral(*text, old_value, read, to);
    MoveBytes(out, text->data() + read, hit - read);
    out += hit - read;
    MoveBytes(out, new_value.data(), new_value.size());
    out += new_value.size();
    read = hit + old_value.size();
  }
  MoveBytes(out, text->data() + read, to - read);
  text->replace(from, to - from, lines);
  return count;
}

}  // namespace

// The start of the line holding the byte at `pos`.
std::size_t LineStartOf(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) pos = text.size();
  // The LF of a CR LF belongs to the line the CR ends.
  if (pos > 0 && pos < text.size() && text[pos] == '\n' && text[pos - 1] == '\r') --pos;
  while (pos > 0) {
    if (pos >= 8 && !MayHoldTerminator(text.data() + pos - 8)) {
      pos -= 8;
    } else if (TerminatorEndsAt(text, pos - 1)) {
      break;
    } else {
      --pos;
    }
  }
  return pos;
}

// The end, past its terminator, of the line holding the byte at `pos`.
std::size_t LineEndOf(std::string_view text, std::size_t pos) {
  // A byte inside a multi-byte terminator: step back to the terminator's first byte.
  for (std::size_t back = 1; back <= 2 && back <= pos; ++back) {
    std::size_t length = TerminatorAt(text, pos - back);
    if (length > back) return pos - back + length;
  }
  while (pos < text.size()) {
    if (text.size() - pos >= 8 && !MayHoldTerminator(text.data() + pos)) {
      pos += 8;
    } else if (std::size_t length = TerminatorAt(text, pos)) {
      return pos + length;
    } else {
      ++pos;
    }
  }
  return text.size();
}

// The first occurrence of `needle` in [from, to), or npos. Short needles: a look at the
// first byte, memchr to skip where it is absent, then the rest compared in line. Longer ones:
// glibc's memmem, linear in the haystack for any needle (two-way search for long needles).
std::size_t FindLiteral(std::string_view hay, std::string_view needle, std::size_t from,
                        std::size_t to) {
  if (needle.empty() || from > to || to - from < needle.size()) return std::string_view::npos;
  if (needle.size() <= kShortNeedle) {
    const char first = needle[0];
    const char* p = hay.data() + from;
    const char* const last = hay.data() + to - needle.size();
    while (p <= last) {
      if (*p != first) {
        p = static_cast<const char*>(std::memchr(p + 1, first, last - p));
        if (p == nullptr) break;
      }
      if (SameBytes(p + 1, needle.data() + 1, needle.size() - 1)) return p - hay.data();
      ++p;
    }
    return std::string_view::npos;
  }
  const void* hit = memmem(hay.data() + from, to - from, needle.data(), needle.size());
  if (hit == nullptr) return std::string_view::npos;
  return static_cast<const char*>(hit) - hay.data();
}

TextEdit EditParameterLine(std::string* text, std::string_view param, std::string_view old_value,
                           std::string_view new_value) {
  TextEdit edit;
  std::size_t at = FindLiteral(*text, param, 0, text->size());
  if (at == std::string_view::npos) return edit;
  edit.found = true;
  edit.line_start = LineStartOf(*text, at);
  edit.line_end = LineEndOf(*text, at + param.size() - 1);
  // In place where the text does not grow: a large file is neither copied nor reallocated.
  edit.count = new_value.size() <= old_value.size()
                   ? ReplaceShrinking(text, edit.line_start, edit.line_end, old_value, new_value)
                   : ReplaceGrowing(text, edit.line_start, edit.line_end, old_value, new_value);
  return edit;
}

}  // namespace configtool
