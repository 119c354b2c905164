#include "platform/plist/libxml.h"

#include <dlfcn.h>

#include <mutex>

namespace platform::plist_xml {

const LibXml* LoadLibXml(std::string* err) {
  static LibXml lib;
  static std::string failure;
  static std::once_flag once;
  std::call_once(once, [] {
    // The library's own name, as the dynamic linker would have looked it up at start.
    void* handle = dlopen("libxml2.so.2", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      failure = std::string("libxml2 cannot be loaded: ") + (why ? why : "unknown reason");
      return;
    }
    bool all = true;
#define QRB_LIBXML_LOOKUP(name)                                          \
  lib.name = reinterpret_cast<decltype(lib.name)>(dlsym(handle, #name)); \
  all = all && lib.name != nullptr;
    QRB_LIBXML_FUNCTIONS(QRB_LIBXML_LOOKUP)
#undef QRB_LIBXML_LOOKUP
    lib.xmlParserMaxDepth = static_cast<unsigned int*>(dlsym(handle, "xmlParserMaxDepth"));
    if (!all || lib.xmlParserMaxDepth == nullptr) {
      failure = "libxml2 cannot be loaded: a function is missing from it";
      lib = LibXml();
    }
  });
  if (lib.xmlInitParser == nullptr) {
    *err = failure;
    return nullptr;
  }
  return &lib;
}

}  // namespace platform::plist_xml
