// Reading an XML property list with libxml2's streaming reader, straight into Values.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace platform::plist_xml {

// Reads `bytes` (no byte order mark; UTF-8, as the file may declare, or US-ASCII) as a property
// list. libxml2 decides what is well-formed XML. Nothing but `bytes` is ever read: no external
// DTD or entity, no network; a reference to an entity other than the five XML predefines is
// refused. Also refused: what nests deeper than kMaxPlistDepth, a key given twice in a
// dictionary, a value that does not read as its element says. nullopt with a reason in *err.
std::optional<Value> ReadXml(std::string_view bytes, std::string* err);

// Reads up to `size` bytes into `buf`, going on where it stopped: the count, 0 at the end, -1
// on failure.
using XmlSource = std::function<long(char* buf, std::size_t size)>;

// The same on a file of which `head` was read and `more` gives the rest, held only a piece at a
// time. Refuses what ReadXml refuses, but without a reason fit to show: read the file whole
// with ReadXml for that.
std::optional<Value> ReadXmlFrom(std::string_view head, const XmlSource& more, std::string* err);

}  // namespace platform::plist_xml
