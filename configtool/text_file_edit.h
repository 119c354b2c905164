// The edit of a text file too large to hold: one pass over the file in blocks checks that it is
// UTF-8 and finds the lines to edit, which alone are held and edited (EditParameterLine). The
// new file is then the old one's bytes before those lines, the edited lines, and the old one's
// bytes after them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace configtool {

struct TextFileEdit {
  bool utf8 = true;        // the whole file is UTF-8; when not, nothing else is set
  bool found = false;      // the parameter name occurs in the file
  std::uint64_t size = 0;  // bytes in the file
  std::uint64_t line_start = 0, line_end = 0;  // the lines edited, as in TextEdit
  std::string lines;                           // those lines after the edit
  std::size_t count = 0;                       // occurrences of the old value replaced
};

// Reads up to `size` bytes at `offset` into `buf`: the count, 0 at the end, -1 on failure.
using BlockReader = std::function<long(std::uint64_t offset, char* buf, std::size_t size)>;

inline constexpr std::size_t kTextBlock = std::size_t{256} << 10;

// The edit of EditParameterLine on the file `read` reads, `block` bytes at a time. Holds about
// two blocks, the parameter name and the lines edited, whatever the file's size. nullopt when a
// read failed.
std::optional<TextFileEdit> PlanTextFileEdit(const BlockReader& read, std::string_view param,
                                             std::string_view old_value, std::string_view new_value,
                                             std::size_t block = kTextBlock);

}  // namespace configtool
