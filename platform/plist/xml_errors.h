// What a refusal of an XML property list says: libxml2's errors in this reader's own words, and
// the encodings a file may declare.
#pragma once

#include <libxml/xmlerror.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform::plist_xml {

// The reason for an error libxml2 reported on `bytes` (without the line, which the caller
// adds): the usual mistakes by name, anything else in libxml2's own words.
std::string DescribeXmlError(const xmlError& e, std::string_view bytes);

// A file declared (in its XML declaration) in an encoding other than UTF-8, or declared US-ASCII
// but holding a byte that is not: the reason to refuse it, with its line. nullopt otherwise.
std::optional<std::string> RefuseDeclaredEncoding(std::string_view bytes);

}  // namespace platform::plist_xml
