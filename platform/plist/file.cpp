// Reading property lists. XML: libxml2's reader builds Values (xml_reader.h). Binary: our walk
// of the object graph builds them (binary_reader.h).
#include "platform/plist/file.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "platform/files/io.h"
#include "platform/plist/binary_reader.h"
#include "platform/plist/xml_reader.h"
#include "platform/plist/xml_text.h"

namespace platform {

namespace {

std::optional<Value> Parse(std::string_view bytes, std::string* err) {
  if (bytes.size() >= kMaxPlistFileSize) return *err = "the file is 4 GiB or larger", std::nullopt;
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  if (bytes.empty()) return *err = "an empty file", std::nullopt;
  const bool binary = bytes.starts_with("bplist");
  if (binary && !bytes.starts_with("bplist00"))
    return *err = "an unsupported binary property-list version", std::nullopt;

  std::string why;
  std::optional<Value> root =
      binary ? plist_binary::ReadBinary(bytes, &why) : plist_xml::ReadXml(bytes, &why);
  if (!root) *err = "not a valid property list: " + why;
  return root;
}

}  // namespace

std::optional<Value> ParsePlist(std::string_view bytes, std::string* err, ReaderTree) {
  try {
    return Parse(bytes, err);
  } catch (const std::exception&) {  // bad_alloc: a file too large for memory
    *err = kPlistNoMemory;
    return std::nullopt;
  }
}

bool IsPlistString(std::string_view s) {
  std::string what;
  return plist_text::FindNonXmlCharacter(s, &what) == std::string_view::npos;
}

std::optional<Value> ReadPlistFrom(const PlistBlockReader& read, std::uint64_t size_hint,
                                   std::string* err, ReaderTree tree) try {
  // Enough to tell the kind of file and to hold the XML declaration.
  constexpr std::size_t kHead = std::size_t{64} << 10;
  std::string bytes(kHead, '\0');
  std::uint64_t got = 0;
  for (long n; got < kHead && (n = read(got, bytes.data() + got, kHead - got)) != 0;) {
    if (n < 0) return *err = "cannot read the file", std::nullopt;
    got += static_cast<std::uint64_t>(n);
  }
  bytes.resize(got);
  std::string_view head = bytes;
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  if (got == kHead && !head.starts_with("bplist")) {
    std::uint64_t offset = got;
    const plist_xml::XmlSource more = [&](char* buf, std::size_t size) {
      const long n = read(offset, buf, size);
      if (n > 0) offset += static_cast<std::uint64_t>(n);
      return n;
    };
    std::string why;
    if (std::optional<Value> root = plist_xml::ReadXmlFrom(head, more, &why)) return root;
  }
  // A binary file, a small one, or one refused: read whole, in one block when the size given
  // is right.
  for (;;) {
    if (bytes.size() <= got)
      bytes.resize(std::max<std::uint64_t>(size_hint + 1, got + got / 2 + kHead));
    const long n = read(got, bytes.data() + got, bytes.size() - got);
    if (n < 0) return *err = "cannot read the file", std::nullopt;
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  bytes.resize(got);
  return ParsePlist(bytes, err, tree);
} catch (const std::exception&) {
  *err = kPlistNoMemory;
  return std::nullopt;
}

std::optional<Value> ReadPlistFile(const std::string& path, std::string* err, ReaderTree tree) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uint64_t>(st.st_size) >= kMaxPlistFileSize) {
    *err = path + ": the file is 4 GiB or larger";
    return std::nullopt;
  }
  std::optional<std::string> bytes = ReadWholeFile(path, err);
  if (!bytes) return std::nullopt;
  std::string why;
  std::optional<Value> root = ParsePlist(*bytes, &why, tree);
  if (!root) *err = path + ": " + why;
  return root;
}

}  // namespace platform
