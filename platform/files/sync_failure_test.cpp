// What a replacement does when the disk does not take the data: fsync fails. This test program
// is linked with --wrap=fsync, so every fsync of the units under test comes here first.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "platform/files/edited_file.h"
#include "platform/files/io.h"
#include "platform/files/replacers_testing.h"
#include "tests/scratch_folder.h"

namespace {

// Which syncs fail: none, those of regular files, or those of folders.
enum class Failing { kNothing, kFiles, kFolders };
std::atomic<Failing> failing{Failing::kNothing};

}  // namespace

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) {
  struct stat st;
  const Failing mode = failing.load();
  if (mode != Failing::kNothing && fstat(fd, &st) == 0 &&
      ((mode == Failing::kFiles && S_ISREG(st.st_mode)) ||
       (mode == Failing::kFolders && S_ISDIR(st.st_mode)))) {
    errno = EIO;
    return -1;
  }
  return __real_fsync(fd);
}

namespace platform {
namespace {

using replacers_testing::kReplacers;
using replacers_testing::Slurp;

TEST(SyncFailure, TheReplacementFailsOrSaysTheFolderWasNotSynced) {
  for (const auto& [name, replace] : kReplacers) {
    for (Failing mode : {Failing::kFiles, Failing::kFolders}) {
      SCOPED_TRACE(std::string(name) + (mode == Failing::kFiles ? ", file" : ", folder"));
      const test_support::ScratchFolder folder("sync_test");
      const std::string path = folder.File("conf");
      std::ofstream(path) << "original";
      std::string err;
      failing = mode;
      const bool replaced = replace(path, "new contents", &err);
      failing = Failing::kNothing;
      EXPECT_FALSE(replaced);
      if (mode == Failing::kFiles) {
        // Not known to be on the disk: never put in place, and nothing left behind.
        EXPECT_EQ(err, "cannot replace " + path + ": syncing: Input/output error");
        EXPECT_EQ(Slurp(path), "original");
      } else {
        // Renamed already; only the rename's own durability is in doubt.
        EXPECT_EQ(err, "cannot replace " + path +
                           ": the new contents are in place, but syncing the folder failed: "
                           "Input/output error");
        EXPECT_EQ(Slurp(path), "new contents");
      }
      EXPECT_EQ(folder.Names(), std::set<std::string>{"conf"});
    }
  }
}

}  // namespace
}  // namespace platform
