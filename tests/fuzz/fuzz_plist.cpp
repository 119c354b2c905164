// Property-list reading and writing on arbitrary bytes: ParsePlist must refuse or succeed
// without a fault, and what PlistToXml writes must hold only characters XML allows and read
// back as the same value.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/file.h"
#include "platform/plist/xml_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string err;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<platform::Value> value = platform::ParsePlist(bytes, &err);
  if (!value) {
    if (err.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  const std::string xml = platform::PlistToXml(*value);
  std::string what;
  if (platform::plist_text::FindNonXmlCharacter(xml, &what) != std::string::npos) __builtin_trap();
  std::optional<platform::Value> again = platform::ParsePlist(xml, &err);
  if (!again || !(*again == *value)) __builtin_trap();
  if (platform::PlistToXml(*again) != xml) __builtin_trap();
  return 0;
}
