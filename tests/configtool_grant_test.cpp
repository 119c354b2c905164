// configtool run as root for another user, as pkexec runs it (PKEXEC_UID set): only the TFTP
// service's own files, whose fixed paths are met on the real polkit in polkit_test.cpp. Here:
// any other file is refused before it is opened, and root itself is not restricted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::TempDir;

TEST(ConfigtoolForAGrantedUser, AnyOtherFileIsRefusedRootItselfIsNot) {
  if (!test_support::IsRoot()) GTEST_SKIP() << "needs root (the restriction is root's)";
  TempDir dir;
  const std::string file = dir.File("tftp");
  const std::string text = "service tftp\n{\n\tuser\t= root\n\tserver_args\t= -s /srv/tftp\n}\n";
  struct Case {
    const char* pkexec_uid;  // null: unset
    std::vector<std::string> args;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {"1000",
       {file, "user", "nobody", "root"},
       1,
       "",
       "configtool: refused: a granted user may edit only /etc/xinetd.d/tftp as a text file\n"},
      {"1000",
       {file, "server_args", "/", "/srv/tftp"},
       1,
       "",
       "configtool: refused: a granted user may edit only /etc/xinetd.d/tftp as a text file\n"},
      {"1000",
       {file, "ProgramArguments", "/"},
       1,
       "",
       "configtool: refused: a granted user may edit only /etc/qrb-tftp-controller/tftp.plist as "
       "a property list\n"},
      {"1000",
       {file, "ProgramArguments"},
       1,
       "",
       "configtool: refused: a granted user may edit only /etc/qrb-tftp-controller/tftp.plist as "
       "a property list\n"},
      // Whether a file exists is not told.
      {"1000",
       {dir.File("none"), "user", "nobody", "root"},
       1,
       "",
       "configtool: refused: a granted user may edit only /etc/xinetd.d/tftp as a text file\n"},
      {"1000",
       {"/etc/xinetd.d/tftp", "server", "/bin/sh", "/usr/sbin/in.tftpd"},
       1,
       "",
       "configtool: refused: a granted user may change only server_args, disable and bind\n"},
      {"",
       {file, "user", "nobody", "root"},
       1,
       "",
       "configtool: refused: a granted user may edit only /etc/xinetd.d/tftp as a text file\n"},
      // Root through pkexec, and root: any file, any parameter.
      {"0", {file, "user", "nobody", "root"}, 0, "1", ""},
      {nullptr, {file, "user", "nobody", "root"}, 0, "1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pkexec_uid ? c.pkexec_uid : "(unset)") + " " + c.args[1]);
    ASSERT_TRUE(test_support::WriteFile(file, text));
    std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
    if (c.pkexec_uid) env.push_back(std::string("PKEXEC_UID=") + c.pkexec_uid);
    std::vector<std::string> argv = c.args;
    argv.insert(argv.begin(), CONFIGTOOL_PATH);
    test_support::RunResult r = test_support::Run(argv, "", &env);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    std::string want = text;
    if (c.status == 0) want.replace(want.find("root"), 4, "nobody");
    EXPECT_EQ(ReadFile(file), want);
  }
}

}  // namespace
