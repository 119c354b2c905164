// A compiled message catalog (the .mo file msgfmt writes), read whole, so that a bundle can look
// a text up in one chosen language whatever the process's locale is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

// A catalog larger than this is refused unread.
inline constexpr std::size_t kMaxMessageCatalogSize = std::size_t{16} << 20;

class MessageCatalog {
 public:
  // Reads the catalog at `path`: nullopt with the reason in *err when it cannot be read, is
  // larger than kMaxMessageCatalogSize, or is refused by Parse.
  static std::optional<MessageCatalog> Read(const std::string& path, std::string* err);

  // A catalog from its bytes, either byte order. nullopt with the reason in *err when they are
  // no message catalog, a string lies outside them, or the header names a character set other
  // than UTF-8 (or ASCII) or a text is not UTF-8.
  static std::optional<MessageCatalog> Parse(std::string_view bytes, std::string* err);

  // The text of `key` (the singular form of a plural entry), or nullopt when the catalog has
  // none. Entries with a context are never found, and neither is the header (the empty key).
  std::optional<std::string> Find(std::string_view key) const;

  std::size_t size() const { return texts_.size(); }

 private:
  std::unordered_map<std::string, std::string> texts_;
};

}  // namespace platform
