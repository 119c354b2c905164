#include "platform/bundle/message_catalog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>

#include "platform/files/io.h"
#include "platform/files/owned_fd.h"
#include "platform/text/errno_text.h"
#include "platform/text/utf8.h"

namespace platform {

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kSwappedMagic = 0xde120495;
// Magic, revision, count, originals' table, translations' table, hash size, hash table.
constexpr std::size_t kHeaderSize = 7 * 4;

bool Fail(std::string* err, std::string reason) {
  if (err) *err = std::move(reason);
  return false;
}

// The words of a catalog written in either byte order.
class Words {
 public:
  Words(std::string_view bytes, bool swapped) : bytes_(bytes), swapped_(swapped) {}

  // The word at `offset`, which the caller has checked lies inside.
  std::uint32_t At(std::uint64_t offset) const {
    std::uint32_t word;
    std::memcpy(&word, bytes_.data() + offset, sizeof word);
    return swapped_ ? __builtin_bswap32(word) : word;
  }

  // String `index` of the table at `table` (pairs of length and offset), up to its first NUL
  // (a plural entry's forms follow one another); nullopt when it lies outside the bytes.
  std::optional<std::string_view> String(std::uint64_t table, std::uint64_t index) const {
    std::uint64_t entry = table + index * 8;
    if (entry + 8 > bytes_.size()) return std::nullopt;
    std::uint64_t length = At(entry), offset = At(entry + 4);
    if (offset > bytes_.size() || length > bytes_.size() - offset) return std::nullopt;
    std::string_view text = bytes_.substr(offset, length);
    return text.substr(0, text.find('\0'));
  }

 private:
  std::string_view bytes_;
  bool swapped_;
};

// The character set the header's Content-Type names, or "" when it names none.
std::string_view CharsetOf(std::string_view header) {
  constexpr std::string_view kCharset = "charset=";
  std::size_t at = header.find(kCharset);
  if (at == std::string_view::npos) return {};
  std::string_view rest = header.substr(at + kCharset.size());
  return rest.substr(0, rest.find_first_of(" \t\r\n;"));
}

bool IsUtf8Charset(std::string_view charset) {
  std::string lower;
  for (char c : charset) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  // "CHARSET" is the placeholder of a catalog template, which msgfmt accepts as ASCII.
  return lower.empty() || lower == "utf-8" || lower == "utf8" || lower == "ascii" ||
         lower == "us-ascii" || lower == "charset";
}

}  // namespace

std::optional<MessageCatalog> MessageCatalog::Read(const std::string& path, std::string* err) {
  // O_NONBLOCK: a FIFO in place of the catalog must not wait for a writer; it is refused below.
  OwnedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return Fail(err, path + ": " + ErrnoText(errno)), std::nullopt;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return Fail(err, path + ": " + ErrnoText(errno)), std::nullopt;
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > kMaxMessageCatalogSize) {
    return Fail(err, path + ": larger than a message catalog may be"), std::nullopt;
  }
  std::optional<std::string> bytes = ReadWholeDescriptor(fd.get(), path, err);
  if (!bytes) return std::nullopt;
  std::string why;
  std::optional<MessageCatalog> catalog = Parse(*bytes, &why);
  if (!catalog) Fail(err, path + ": " + why);
  return catalog;
}

std::optional<MessageCatalog> MessageCatalog::Parse(std::string_view bytes, std::string* err) {
  if (bytes.size() < kHeaderSize) return Fail(err, "not a message catalog"), std::nullopt;
  std::uint32_t magic;
  std::memcpy(&magic, bytes.data(), sizeof magic);
  if (magic != kMagic && magic != kSwappedMagic) {
    return Fail(err, "not a message catalog"), std::nullopt;
  }
  Words words(bytes, magic == kSwappedMagic);
  // Major revisions 0 and 1 share the tables read here.
  if (words.At(4) >> 16 > 1) return Fail(err, "an unknown catalog revision"), std::nullopt;
  std::uint64_t count = words.At(8), originals = words.At(12), translations = words.At(16);
  try {
    MessageCatalog catalog;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::optional<std::string_view> key = words.String(originals, i);
      std::optional<std::string_view> text = words.String(translations, i);
      if (!key || !text) return Fail(err, "a string lies outside the catalog"), std::nullopt;
      if (key->empty()) {
        if (!IsUtf8Charset(CharsetOf(*text))) {
          return Fail(err, "its texts are in " + std::string(CharsetOf(*text)) + ", not UTF-8"),
                 std::nullopt;
        }
        continue;
      }
      if (!IsValidUtf8(*key) || !IsValidUtf8(*text)) {
        return Fail(err, "a text is not UTF-8"), std::nullopt;
      }
      // An entry with a context is "context\x04key".
      if (key->find('\x04') != std::string_view::npos) continue;
      catalog.texts_.emplace(*key, *text);
    }
    return catalog;
  } catch (const std::exception&) {
    return Fail(err, "out of memory"), std::nullopt;
  }
}

std::optional<std::string> MessageCatalog::Find(std::string_view key) const {
  auto it = texts_.find(std::string(key));
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform
