// The example program, run once as a user would: it launches the probe by its ID and quits it.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace {

using test_support::TempDir;
using test_support::WriteFile;

TEST(AppUtilitiesExample, ShowsItsBundleAndLaunchesAndQuitsAnApplication) {
  // The probe GIO starts for the example is reparented to us when the example's launch leaves
  // it; we reap it.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  TempDir folder;
  std::string id = "org.qrb.t" + std::to_string(getpid()) + ".ExampleProbe";
  ASSERT_TRUE(WriteFile(folder.File("data/applications/" + id + ".desktop"),
                        "[Desktop Entry]\nType=Application\nName=Example probe\nExec=" +
                            std::string(DESKTOP_PROBE_PATH) + " --record " + folder.File("record") +
                            "\n"));
  // (The example may quit the probe before it has recorded its start.)
  std::vector<std::string> env = {"XDG_DATA_HOME=" + folder.File("data"), "PATH=/usr/bin:/bin",
                                  "HOME=" + folder.path()};
  test_support::RunResult example = test_support::Run({EXAMPLE_PATH, id}, "", &env);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  const std::string& output = example.out;
  EXPECT_EQ(example.status, 0) << output << example.err;
  EXPECT_NE(output.find("version: 2.1\n"), std::string::npos) << output;
  EXPECT_NE(output.find("library folder: " + folder.File("data") + "\n"), std::string::npos);
  EXPECT_NE(output.find("document types: conf TEXT plist\n"), std::string::npos) << output;
  EXPECT_NE(output.find(id + " running: no\n"), std::string::npos) << output;
  EXPECT_NE(output.find("after quitting, running: no\n"), std::string::npos) << output;
  EXPECT_NE(output.find("launched: pid "), std::string::npos) << output;
}

}  // namespace
