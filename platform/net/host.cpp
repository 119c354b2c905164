#include "platform/net/host.h"

#include <netdb.h>
#include <sys/socket.h>

#include <memory>
#include <unordered_set>

namespace platform {

std::optional<Host> Host::WithName(const std::string& name, std::string* err) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
  addrinfo* list = nullptr;
  int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    if (err) *err = name + ": " + gai_strerror(rc);
    return std::nullopt;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(list, &freeaddrinfo);
  std::vector<std::string> addresses;
  std::unordered_set<std::string> seen;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
    char text[NI_MAXHOST];
    if (getnameinfo(ai->ai_addr, ai->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) !=
        0) {
      continue;
    }
    if (seen.insert(text).second) addresses.emplace_back(text);
  }
  return Host(std::move(addresses));
}

}  // namespace platform
