// A folder of units in which launchctl adds and removes only its own, on a scratch folder.
#include "launchctl/unit_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/scratch_folder.h"

namespace launchctl {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

TEST(UnitFolder, AddsAndRemovesOnlyItsOwnUnits) {
  test_support::ScratchFolder dir("unit_folder_test");
  const std::string d = dir.path();
  const std::string ours = std::string(kMarker) + "\n# Label=\"a\"\n\n[Service]\n";
  Put(d + "/foreign.service", "[Service]\nExecStart=/bin/true\n");
  Put(d + "/late.socket", ours);  // ours, but in the way of a new one
  ASSERT_EQ(symlink("a.service", (d + "/link.service").c_str()), 0);
  ASSERT_EQ(mkfifo((d + "/fifo.service").c_str(), 0600), 0);

  std::string err;
  std::optional<UnitFolder> folder = UnitFolder::Open(d, &err);
  ASSERT_TRUE(folder) << err;

  // A name already taken is never replaced, and nothing of the set stays.
  EXPECT_FALSE(folder->AddAll({{"a.service", ours}, {"late.socket", ours + "new\n"}}, &err));
  EXPECT_NE(err.find("late.socket"), std::string::npos) << err;
  EXPECT_EQ(folder->Inspect("a.service"), UnitFolder::Presence::kAbsent);
  EXPECT_EQ(Slurp(d + "/late.socket"), ours);

  ASSERT_TRUE(folder->AddAll({{"a.service", ours}, {"a.socket", ours + "x\n"}}, &err)) << err;
  struct stat st;
  ASSERT_EQ(stat((d + "/a.socket").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  std::string text;
  EXPECT_EQ(folder->Inspect("a.socket", &text), UnitFolder::Presence::kOurs);
  EXPECT_EQ(text, ours + "x\n");

  // Not ours: no mark, a link (even to a unit of ours), a FIFO (read without blocking).
  for (const char* name : {"foreign.service", "link.service", "fifo.service"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(folder->Inspect(name), UnitFolder::Presence::kForeign);
    EXPECT_FALSE(folder->RemoveOurs(name, &err));
    EXPECT_NE(err.find("not made by launchctl"), std::string::npos) << err;
  }
  EXPECT_EQ(Slurp(d + "/foreign.service"), "[Service]\nExecStart=/bin/true\n");
  EXPECT_EQ(access((d + "/link.service").c_str(), F_OK), 0);

  std::vector<std::string> names;
  for (const UnitFile& f : folder->Ours()) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.service", "a.socket", "late.socket"}));

  EXPECT_TRUE(folder->RemoveOurs("a.service", &err)) << err;
  EXPECT_TRUE(folder->RemoveOurs("a.service", &err)) << err;  // gone already: done
  EXPECT_EQ(folder->Inspect("a.service"), UnitFolder::Presence::kAbsent);
  // No temporary file is left anywhere.
  names.clear();
  for (const auto& e : std::filesystem::directory_iterator(d)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.socket", "fifo.service", "foreign.service",
                                             "late.socket", "link.service"}));
}

}  // namespace
}  // namespace launchctl
