#include "platform/plist/xml_input.h"

#include "platform/plist/xml_text.h"

namespace platform::plist_xml {

namespace {

// The end of the last whole character of `bytes`.
std::size_t CharacterBoundary(std::string_view bytes) {
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if (c < 0x80) break;
    if (c >= 0xC0) {
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      return length > back ? bytes.size() - back : bytes.size();
    }
  }
  return bytes.size();
}

}  // namespace

bool Input::Refill() {
  block_.resize(kBlock);
  std::size_t have = held_;
  std::copy_n(held_bytes_, held_, block_.data());
  held_ = 0;
  ready_ = ready_end_ = 0;
  for (;;) {
    long n = 0;
    if (!head_.empty()) {
      n = static_cast<long>(std::min(head_.size(), kBlock - have));
      std::copy_n(head_.data(), n, block_.data() + have);
      head_.remove_prefix(static_cast<std::size_t>(n));
    } else if (more_ != nullptr) {
      n = (*more_)(block_.data() + have, kBlock - have);
      if (n < 0) return false;
    }
    const bool end = n == 0;
    have += static_cast<std::size_t>(n);
    const std::size_t cut = CharacterBoundary(std::string_view(block_.data(), have));
    // A character cut short at the very end: not UTF-8.
    if (end && cut < have) return false;
    std::string what;
    const std::string_view ready(block_.data(), cut);
    if (plist_text::FindNonXmlCharacter(ready, &what) != std::string_view::npos ||
        (ascii_only_ && std::any_of(ready.begin(), ready.end(), [](char c) { return c & 0x80; })))
      return false;
    if (cut > 0 || end) {
      held_ = have - cut;
      std::copy_n(block_.data() + cut, held_, held_bytes_);
      ready_end_ = cut;
      return true;
    }
    // Too little for a whole character yet: read on after it.
  }
}

}  // namespace platform::plist_xml
