// The whole system on the real service: scripts/demo-service.sh drives the real xinetd and the
// real TFTP daemon with configtool and xinetdtool inside private mount, pid and network
// namespaces, fetches files with the real client, and fails at the first step that goes wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

namespace {

bool Installed(const char* path) {
  return access(path, X_OK) == 0;
}

TEST(TftpService, ConfigtoolAndXinetdtoolDriveTheRealService) {
  if (!test_support::IsRoot()) GTEST_SKIP() << "needs root (namespaces, xinetd, in.tftpd)";
  for (const char* path : {"/usr/sbin/xinetd", "/usr/sbin/in.tftpd", "/usr/bin/tftp",
                           "/usr/bin/unshare", "/usr/bin/timeout", "/usr/sbin/ip", "/usr/bin/ss"}) {
    if (!Installed(path)) GTEST_SKIP() << path << " is missing";
  }
  const std::string build =
      std::filesystem::path(XINETDTOOL_PATH).parent_path().parent_path().string();
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("QRB_BUILD_DIR=", 0) != 0) env.push_back(*e);
  }
  env.push_back("QRB_BUILD_DIR=" + build);
  test_support::RunResult r =
      test_support::Run({"/usr/bin/timeout", "-k", "5", "240",
                         std::string(TESTS_SOURCE_DIR) + "/../scripts/demo-service.sh"},
                        "", &env);
  const std::string report = r.out + r.err;
  ASSERT_EQ(r.status, 0) << report;
  // Each step as the demo shows it: the first folder served, then the second after a restart,
  // then nothing once stopped, and a server that died leaves a pid file that no longer counts.
  for (const char* seen :
       {"received: served from one", "received: served from two", "nothing answers",
        "(nothing to stop)", "The real service did what it should at every step."}) {
    EXPECT_NE(report.find(seen), std::string::npos) << seen << "\n" << report;
  }
  EXPECT_NE(report.find("Launching xinetd (Morvane) ... "), std::string::npos);
  EXPECT_NE(report.find("Restarting xinetd (Morvane) ... "), std::string::npos);
  EXPECT_NE(report.find("Stopping xinetd (Morvane) ... "), std::string::npos);
}

}  // namespace
