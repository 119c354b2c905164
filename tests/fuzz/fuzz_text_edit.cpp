// The text edit core: input is text, parameter name, old value and new value separated by 0xFF
// bytes (which UTF-8 never holds). Checks the edit against a slow, obviously right model.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "configtool/text_edit.h"
#include "configtool/text_file_edit.h"
#include "platform/text/utf8.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The ends (past the terminator) of the lines of well-formed UTF-8 text; the last line may
// have no terminator.
std::vector<std::size_t> LineEnds(std::string_view text) {
  std::vector<std::size_t> ends;
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = platform::NextUtf8(text, &pos);
    if (c == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    if (c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029) ends.push_back(pos);
  }
  if (ends.empty() || ends.back() != text.size()) ends.push_back(text.size());
  return ends;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[4];
  for (int i = 0; i < 4; ++i) {
    std::size_t cut = i < 3 ? input.find('\xFF') : std::string_view::npos;
    parts[i] = input.substr(0, cut);
    input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
  }
  const std::string_view text = parts[0], param = parts[1], old_value = parts[2],
                         new_value = parts[3];

  std::string edited(text);
  configtool::TextEdit edit = configtool::EditParameterLine(&edited, param, old_value, new_value);

  // The edit of the file read in blocks: the same lines and the same result, at block sizes
  // that cut characters, line ends and the name anywhere.
  const bool utf8 = platform::IsValidUtf8(text);
  for (std::size_t block : {1, 3, 7}) {
    auto read = [&](std::uint64_t offset, char* buf, std::size_t n) -> long {
      if (offset >= text.size()) return 0;
      n = std::min<std::size_t>(n, text.size() - offset);
      std::copy_n(text.data() + offset, n, buf);
      return static_cast<long>(n);
    };
    std::optional<configtool::TextFileEdit> planned =
        configtool::PlanTextFileEdit(read, param, old_value, new_value, block);
    Check(planned.has_value() && planned->utf8 == utf8);
    if (!utf8) continue;
    Check(planned->found == edit.found && planned->size == text.size());
    if (!edit.found) continue;
    Check(planned->line_start == edit.line_start && planned->line_end == edit.line_end);
    Check(planned->count == edit.count);
    Check(std::string(text.substr(0, edit.line_start)) + planned->lines +
              std::string(text.substr(edit.line_end)) ==
          edited);
  }
  const std::size_t at = param.empty() ? std::string_view::npos : text.find(param);
  Check(edit.found == (at != std::string_view::npos));
  if (!edit.found) {
    Check(edit.count == 0 && edited == text);
    return 0;
  }
  const std::size_t start = edit.line_start, end = edit.line_end;
  Check(start <= at && at + param.size() <= end && end <= text.size());

  // Outside the lines every byte stays; inside, the model's replacement.
  std::string model(text.substr(start, end - start));
  std::size_t count = 0;
  if (!old_value.empty()) {
    for (std::size_t pos = model.find(old_value); pos != std::string::npos;
         pos = model.find(old_value, pos + new_value.size())) {
      model.replace(pos, old_value.size(), new_value);
      ++count;
    }
  }
  Check(edit.count == count);
  Check(edited.size() == text.size() - count * old_value.size() + count * new_value.size());
  Check(std::string_view(edited).substr(0, start) == text.substr(0, start));
  Check(std::string_view(edited).substr(start, model.size()) == model);
  Check(std::string_view(edited).substr(start + model.size()) == text.substr(end));

  // On well-formed text the range is exactly the whole lines the name touches.
  if (platform::IsValidUtf8(text) && platform::IsValidUtf8(param)) {
    std::vector<std::size_t> ends = LineEnds(text);
    std::size_t first = 0, last = 0;
    while (ends[first] <= at) ++first;
    last = first;
    while (ends[last] < at + param.size()) ++last;
    Check(start == (first == 0 ? 0 : ends[first - 1]));
    Check(end == ends[last]);
  }
  return 0;
}
