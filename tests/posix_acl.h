// For tests: POSIX ACLs as the kernel keeps them in the attributes system.posix_acl_access and
// system.posix_acl_default, set and read without libacl.
#pragma once

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

namespace test_support {

constexpr char kAccessAcl[] = "system.posix_acl_access";
constexpr char kDefaultAcl[] = "system.posix_acl_default";

// One entry: its kind, its permissions (4 read, 2 write, 1 search) and, for kUser and kGroup,
// the user or group it names.
struct AclEntry {
  enum Tag : std::uint16_t {
    kOwner = 0x01,
    kUser = 0x02,
    kOwningGroup = 0x04,
    kGroup = 0x08,
    kMask = 0x10,
    kOther = 0x20,
  };
  Tag tag;
  std::uint16_t perm;
  std::uint32_t id = 0xFFFFFFFF;
};

// The attribute's value: a version word, then the entries in the order the kernel demands
// (owner, users by id, owning group, groups by id, mask, other), little-endian.
inline std::string AclValue(std::initializer_list<AclEntry> entries) {
  auto put = [](std::string* out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string out;
  put(&out, 2, 4);
  for (const AclEntry& e : entries) {
    put(&out, e.tag, 2);
    put(&out, e.perm, 2);
    put(&out, e.id, 4);
  }
  return out;
}

// The access ACL of `path` (a link is followed): empty when it has none.
inline std::string AccessAclOf(const std::string& path) {
  char buf[4096];
  ssize_t n = getxattr(path.c_str(), kAccessAcl, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// True when the mode `mode` and the access ACL `acl` (empty: none) give nobody but the file's
// owner any access, and the owner no more than read and write: no wider than 0600.
inline bool NoWiderThan0600(mode_t mode, const std::string& acl) {
  if ((mode & 0177) != 0) return false;
  if (acl.empty()) return true;
  std::uint16_t mask = 7;
  for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
    std::uint16_t tag, perm;
    std::memcpy(&tag, acl.data() + at, 2);
    std::memcpy(&perm, acl.data() + at + 2, 2);
    if (tag == AclEntry::kMask) mask = perm;
  }
  for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
    std::uint16_t tag, perm;
    std::memcpy(&tag, acl.data() + at, 2);
    std::memcpy(&perm, acl.data() + at + 2, 2);
    if (tag == AclEntry::kOwner && (perm & 1) != 0) return false;
    if (tag == AclEntry::kOther && perm != 0) return false;
    if ((tag == AclEntry::kUser || tag == AclEntry::kOwningGroup || tag == AclEntry::kGroup) &&
        (perm & mask) != 0)
      return false;
  }
  return true;
}

}  // namespace test_support
