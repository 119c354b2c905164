#include "platform/apps/app_cgroups.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace platform {
namespace {

using test_support::TempDir;
using test_support::WriteFile;

TEST(CgroupHierarchies, AreTheUnifiedOneThenSystemdsOwn) {
  std::string mountinfo =
      "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
      "32 31 0:29 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n"
      "40 31 0:37 / /sys/fs/cgroup/systemd rw,relatime shared:9 - cgroup cgroup "
      "rw,xattr,name=systemd\n"
      "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime shared:10 - cgroup2 cgroup2 rw\n"
      "42 31 0:39 / /sys/fs/cgroup/net_cls rw,relatime - cgroup cgroup rw,name=systemdx\n"
      "50 23 0:40 / /proc rw - proc proc rw\n";
  EXPECT_EQ(CgroupHierarchies(mountinfo),
            (std::vector<std::string>{"/sys/fs/cgroup/unified", "/sys/fs/cgroup/systemd"}));
  EXPECT_EQ(CgroupHierarchies("26 1 0:23 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"),
            std::vector<std::string>{"/sys/fs/cgroup"});
  EXPECT_TRUE(CgroupHierarchies("").empty());
}

TEST(ApplicationGroupMembers, ArePlacedByTheGroupTheySitIn) {
  TempDir root;
  std::string user = root.File("unified/user.slice/user-1000.slice/user@1000.service/app.slice/");
  ASSERT_TRUE(WriteFile(user + "app-gnome-org.gnome.Terminal-77.scope/cgroup.procs", "100\n101\n"));
  ASSERT_TRUE(WriteFile(user + "app-org.example.Editor@x.service/cgroup.procs", "200\n"));
  // A group below an application's: its members are not the application's by their leaf.
  ASSERT_TRUE(WriteFile(user + "app-org.example.Editor@x.service/helper/cgroup.procs", "201\n"));
  ASSERT_TRUE(WriteFile(user + "app-gnome-firefox-esr-5.scope/cgroup.procs", "300\n"));
  ASSERT_TRUE(WriteFile(root.File("unified/system.slice/cron.service/cgroup.procs"), "400\n"));
  ASSERT_TRUE(WriteFile(root.File("unified/cgroup.procs"), "1\n"));
  // The older hierarchy places 100 elsewhere; the unified one, read first, wins.
  ASSERT_TRUE(WriteFile(root.File("systemd/app-org.other.App-1.scope/cgroup.procs"), "100\n500\n"));
  ASSERT_EQ(symlink(user.c_str(), root.File("systemd/link").c_str()), 0);  // never followed

  std::optional<ApplicationGroups> members =
      ApplicationGroupMembers({root.File("unified"), root.File("systemd"), root.File("missing")});
  ASSERT_TRUE(members);
  EXPECT_EQ(*members, (ApplicationGroups{{100, "org.gnome.Terminal"},
                                         {101, "org.gnome.Terminal"},
                                         {200, "org.example.Editor"},
                                         {500, "org.other.App"}}));
  EXPECT_EQ(ApplicationGroupMembers({root.File("missing")}), std::nullopt);
  EXPECT_EQ(ApplicationGroupMembers(std::vector<std::string>{}), std::nullopt);
}

}  // namespace
}  // namespace platform
