#include "platform/apps/app_cgroups.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <sstream>

#include "platform/apps/process_identity.h"
#include "platform/files/io.h"
#include "platform/files/owned_fd.h"

namespace platform {

namespace {

constexpr int kMaxDepth = 16;
constexpr int kMaxGroups = 100000;

// Adds the members of group folder `dir` (named `name`) and of the groups below it.
void Walk(int dir, const std::string& name, int depth, int* groups, ApplicationGroups* members) {
  if (depth > kMaxDepth || ++*groups > kMaxGroups) return;
  if (std::optional<std::string> id = ApplicationIdFromUnitName(name)) {
    OwnedFd procs(openat(dir, "cgroup.procs", O_RDONLY | O_CLOEXEC));
    if (procs.valid()) {
      std::string text = ReadWholeDescriptor(procs.get(), "cgroup.procs", nullptr).value_or("");
      const char* p = text.data();
      const char* end = p + text.size();
      while (p < end) {
        pid_t pid = 0;
        auto [next, ec] = std::from_chars(p, end, pid);
        if (ec == std::errc() && pid > 0) members->emplace(pid, *id);
        p = next;
        while (p < end && (*p < '0' || *p > '9')) ++p;
      }
    }
  }
  int copy = dup(dir);
  if (copy < 0) return;
  DIR* listing = fdopendir(copy);
  if (listing == nullptr) {
    close(copy);
    return;
  }
  while (struct dirent* entry = readdir(listing)) {
    if (entry->d_type != DT_DIR || entry->d_name[0] == '.') continue;
    OwnedFd child(openat(dir, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (child.valid()) Walk(child.get(), entry->d_name, depth + 1, groups, members);
  }
  closedir(listing);
}

}  // namespace

std::vector<std::string> CgroupHierarchies(std::string_view mountinfo) {
  std::vector<std::string> unified, systemd;
  std::istringstream lines{std::string(mountinfo)};
  std::string line;
  while (std::getline(lines, line)) {
    // ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPEROPTIONS
    std::istringstream fields(line);
    std::string id, parent, device, root, point, field;
    fields >> id >> parent >> device >> root >> point;
    while (fields >> field && field != "-") {
    }
    std::string type, source, super;
    fields >> type >> source >> super;
    if (point.find('\\') != std::string::npos) continue;  // an escaped (unusual) mount point
    if (type == "cgroup2") unified.push_back(point);
    if (type == "cgroup" && ("," + super + ",").find(",name=systemd,") != std::string::npos) {
      systemd.push_back(point);
    }
  }
  unified.insert(unified.end(), systemd.begin(), systemd.end());
  return unified;
}

std::optional<ApplicationGroups> ApplicationGroupMembers(
    const std::vector<std::string>& hierarchies) {
  std::optional<ApplicationGroups> members;
  for (const std::string& hierarchy : hierarchies) {
    OwnedFd top(open(hierarchy.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top.valid()) continue;
    if (!members) members.emplace();
    int groups = 0;
    Walk(top.get(), "", 0, &groups, &*members);
  }
  return members;
}

std::optional<ApplicationGroups> ApplicationGroupMembers() {
  std::string mountinfo = ReadWholeFile("/proc/self/mountinfo", nullptr).value_or("");
  return ApplicationGroupMembers(CgroupHierarchies(mountinfo));
}

}  // namespace platform
