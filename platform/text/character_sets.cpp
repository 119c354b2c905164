#include "platform/text/character_sets.h"

#include <utf8proc.h>

#include "platform/text/utf8.h"

namespace platform {

bool IsDecomposableCharacter(char32_t c) {
  auto code = static_cast<utf8proc_int32_t>(c);
  if (!utf8proc_codepoint_valid(code)) return false;
  // Canonical decomposition only (no UTF8PROC_COMPAT); Hangul syllables are decomposed by rule.
  utf8proc_int32_t parts[8];
  int boundclass = UTF8PROC_BOUNDCLASS_START;
  utf8proc_ssize_t n = utf8proc_decompose_char(code, parts, 8, UTF8PROC_DECOMPOSE, &boundclass);
  return n > 1 || (n == 1 && parts[0] != code);
}

bool HoldsDecomposableCharacter(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return false;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    // Every ASCII character is its own canonical form.
    if (static_cast<unsigned char>(utf8[pos]) < 0x80) {
      ++pos;
      continue;
    }
    if (IsDecomposableCharacter(NextUtf8(utf8, &pos))) return true;
  }
  return false;
}

}  // namespace platform
