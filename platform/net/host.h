// A network host and its numeric addresses, found through the resolver (getaddrinfo).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class Host {
 public:
  // The host known by `name`, a host name or a numeric address. Its addresses are numeric
  // texts ("192.0.2.1", "2001:db8::1") in the resolver's order, each once. nullopt with the
  // resolver's reason in *err when the name cannot be resolved.
  static std::optional<Host> WithName(const std::string& name, std::string* err);

  // A host whose addresses are already known.
  explicit Host(std::vector<std::string> addresses) : addresses_(std::move(addresses)) {}

  const std::vector<std::string>& addresses() const { return addresses_; }

 private:
  std::vector<std::string> addresses_;
};

}  // namespace platform
