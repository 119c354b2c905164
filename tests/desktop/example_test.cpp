// The example program, run once as a user would: it launches the probe by its ID and quits it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/desktop/desktop_testing.h"

extern char** environ;

namespace {

using desktop_testing::ScratchFolder;
using desktop_testing::WriteFile;

TEST(AppUtilitiesExample, ShowsItsBundleAndLaunchesAndQuitsAnApplication) {
  // The probe GIO starts for the example is reparented to us when the example's launch leaves
  // it; we reap it.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  ScratchFolder folder;
  std::string id = "org.qrb.t" + std::to_string(getpid()) + ".ExampleProbe";
  ASSERT_TRUE(WriteFile(folder.Path("data/applications/" + id + ".desktop"),
                        "[Desktop Entry]\nType=Application\nName=Example probe\nExec=" +
                            std::string(DESKTOP_PROBE_PATH) + " --record " + folder.Path("record") +
                            "\n"));
  // (The example may quit the probe before it has recorded its start.)
  std::string data_home = "XDG_DATA_HOME=" + folder.Path("data");
  std::vector<std::string> env_strings = {data_home, "PATH=/usr/bin:/bin", "HOME=" + folder.path()};
  std::vector<char*> env;
  for (std::string& e : env_strings) env.push_back(e.data());
  env.push_back(nullptr);
  std::string program = EXAMPLE_PATH;
  char* argv[] = {program.data(), id.data(), nullptr};
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) output.append(buffer, n);
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  EXPECT_NE(output.find("version: 2.1\n"), std::string::npos) << output;
  EXPECT_NE(output.find("library folder: " + folder.Path("data") + "\n"), std::string::npos);
  EXPECT_NE(output.find("document types: conf TEXT plist\n"), std::string::npos) << output;
  EXPECT_NE(output.find(id + " running: no\n"), std::string::npos) << output;
  EXPECT_NE(output.find("after quitting, running: no\n"), std::string::npos) << output;
  EXPECT_NE(output.find("launched: pid "), std::string::npos) << output;
}

}  // namespace
