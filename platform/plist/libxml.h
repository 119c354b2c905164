// libxml2, loaded only when an XML property list is read: its libraries (ICU among them) cost a
// millisecond to load, which every other run of a short-lived program would pay for nothing.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include <string>

namespace platform::plist_xml {

#define QRB_LIBXML_FUNCTIONS(F)             \
  F(xmlInitParser)                          \
  F(xmlSetExternalEntityLoader)             \
  F(xmlSetGenericErrorFunc)                 \
  F(xmlReaderForIO)                         \
  F(xmlFreeTextReader)                      \
  F(xmlTextReaderSetStructuredErrorHandler) \
  F(xmlTextReaderRead)                      \
  F(xmlTextReaderNodeType)                  \
  F(xmlTextReaderConstValue)                \
  F(xmlTextReaderConstName)                 \
  F(xmlTextReaderIsEmptyElement)            \
  F(xmlTextReaderHasAttributes)             \
  F(xmlTextReaderCurrentNode)               \
  F(xmlTextReaderGetParserLineNumber)       \
  F(xmlGetLineNo)

// The functions of libxml2 this reader calls, and its limit on nesting.
struct LibXml {
#define QRB_LIBXML_MEMBER(name) decltype(&::name) name = nullptr;
  QRB_LIBXML_FUNCTIONS(QRB_LIBXML_MEMBER)
#undef QRB_LIBXML_MEMBER
  unsigned int* xmlParserMaxDepth = nullptr;
};

// libxml2 (the library of the system's libxml2 package, loaded once and kept), or null with the
// reason in *err.
const LibXml* LoadLibXml(std::string* err);

}  // namespace platform::plist_xml
