// The bytes libxml2 reads of a property list, checked a block at a time before it sees them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/plist/xml_reader.h"

namespace platform::plist_xml {

// What libxml2 reads: `head`, then what `more` gives, handed over in whole characters, each
// checked (as FindNonXmlCharacter does) before libxml2 sees it. A character XML cannot carry,
// UTF-8 cut short at the end, a byte above ASCII where the file declared US-ASCII, or a failed
// read end the input with an error.
class Input {
 public:
  Input(std::string_view head, const XmlSource* more, bool ascii_only)
      : head_(head), more_(more), ascii_only_(ascii_only) {}

  static int Read(void* self, char* buffer, int size) {
    return static_cast<Input*>(self)->Fill(buffer, static_cast<std::size_t>(size));
  }
  bool refused() const { return refused_; }

 private:
  static constexpr std::size_t kBlock = std::size_t{64} << 10;

  int Fill(char* buffer, std::size_t size) {
    if (refused_) return -1;
    if (ready_ == ready_end_ && !Refill()) return Refuse();
    const std::size_t n = std::min(size, ready_end_ - ready_);
    std::copy_n(block_.data() + ready_, n, buffer);
    ready_ += n;
    return static_cast<int>(n);
  }

  // Reads the next block and checks its whole characters; what ends in a character cut short
  // waits for the next. False on a refusal; at the end, true with nothing ready.
  bool Refill();
  int Refuse() {
    refused_ = true;
    return -1;
  }
  std::string_view head_;
  const XmlSource* more_;
  bool ascii_only_;
  bool refused_ = false;
  std::string block_;
  std::size_t ready_ = 0, ready_end_ = 0;  // in block_: checked, not yet handed over
  char held_bytes_[4] = {};
  std::size_t held_ = 0;
};

}  // namespace platform::plist_xml
