// Reading property-list files (XML or binary) and writing them back as XML.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace platform {

// Deepest nesting of arrays and dictionaries a property list may have.
inline constexpr int kMaxPlistDepth = 512;

// The size a property list file stays below; a larger one is refused unread.
inline constexpr std::uint64_t kMaxPlistFileSize = std::uint64_t{1} << 32;
// The reason a reader gives when memory ran out: no fault of the file's.
inline constexpr char kPlistNoMemory[] = "not enough memory to read the property list";

// What becomes of a reader's own tree of the file once its values have been taken over. Both
// readers now build the values directly and hold no tree of their own, so both choices read
// alike; callers may still say which they would have.
enum class ReaderTree {
  kFree,
  // Left in memory (reachable) until the process ends.
  kKeepUntilExit,
};

// Parses a property list held in memory, XML (a UTF-8 byte order mark allowed) or binary.
// Refuses, with a reason in *err, what cannot be parsed, what nests deeper than kMaxPlistDepth,
// and what the reader cannot carry faithfully.
std::optional<Value> ParsePlist(std::string_view bytes, std::string* err,
                                ReaderTree tree = ReaderTree::kFree);

// Reads up to `size` bytes at `offset` into `buf`: the count, 0 at the end, -1 on failure.
using PlistBlockReader = std::function<long(std::uint64_t offset, char* buf, std::size_t size)>;

// Parses the property list `read` reads, as ParsePlist does; `size_hint`: the file's size as
// last seen. An XML file is never held whole (only its values are), unless it is refused: it
// is then read again whole to say why.
std::optional<Value> ReadPlistFrom(const PlistBlockReader& read, std::uint64_t size_hint,
                                   std::string* err, ReaderTree tree = ReaderTree::kFree);

// Reads and parses a property-list file; a file of 4 GiB or more is refused.
std::optional<Value> ReadPlistFile(const std::string& path, std::string* err,
                                   ReaderTree tree = ReaderTree::kFree);

// True when a string can stand in a property list that PlistToXml writes and every XML reader
// reads back: valid UTF-8 without a character XML cannot carry (a zero or another control
// character but tab, LF and CR; U+FFFE, U+FFFF). Every string and key ParsePlist returns is one;
// check new values (from arguments, say) before storing.
bool IsPlistString(std::string_view s);

// The XML form of a property list, in the usual layout (tab indentation, the Apple DOCTYPE),
// keys in their order, dates in whole seconds. Its strings and keys are to pass IsPlistString.
std::string PlistToXml(const Value& root);

// The same text handed to `sink` in pieces of about a mebibyte as it is made, never held whole.
// False as soon as the sink returns false.
using XmlSink = std::function<bool(std::string_view piece)>;
bool WritePlistXml(const Value& root, const XmlSink& sink);

}  // namespace platform
