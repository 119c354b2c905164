// A file's access ACL, taken as the kernel stores it (the system.posix_acl_access attribute), so
// that a file written in another's place carries exactly what the old one had.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The access ACL of the file open at `fd` (which may be an O_PATH descriptor): empty when it
// has none beyond its mode, or its file system has none. nullopt with errno set on failure.
std::optional<std::string> ReadAccessAcl(int fd);

// Gives the file open at `fd` exactly the access ACL `acl` (as ReadAccessAcl gives it): empty
// removes whatever ACL it has, such as one inherited from its folder's default ACL. False with
// errno set on failure.
bool SetAccessAcl(int fd, std::string_view acl);

}  // namespace platform
