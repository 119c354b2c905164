#include "tftp-controller/service/service_backend.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process/authorization.h"

namespace tftpc {
namespace {

constexpr char kDisabled[] =
    "service tftp\n{\n\tdisable\t= yes\n\tserver_args\t= -s /srv/tftp\n}\n";
constexpr char kEnabled[] = "service tftp\n{\n\tdisable\t= no\n\tserver_args\t= -s /srv/tftp\n}\n";

// How the back end's words are judged, with stand-ins for configtool and xinetdtool that say
// what the real ones say in each case (and, for a success, write what the real one writes).
// As an ordinary user the rights come through a stand-in for pkexec that runs the tool.
class ServiceBackendWords : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/service_backend_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    top_ = tmpl;
    std::filesystem::create_directories(top_ + "/proc/net");
    platform::SetPrivilegeHelperForTesting("/usr/bin/env");
    paths_.configtool = top_ + "/configtool";
    paths_.xinetdtool = top_ + "/xinetdtool";
    paths_.service_file = top_ + "/tftp";
    paths_.xinetd_pid_file = top_ + "/xinetd.pid";
    paths_.proc = top_ + "/proc";
    paths_.settle = std::chrono::milliseconds(100);
  }
  void TearDown() override {
    platform::SetPrivilegeHelperForTesting(nullptr);
    std::filesystem::remove_all(top_);
  }
  void Write(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    chmod(path.c_str(), mode);
  }
  // A stand-in tool: a shell script doing `body`.
  void Tool(const std::string& path, const std::string& body) {
    Write(path, "#!/bin/sh\n" + body + "\n", 0755);
  }
  std::string top_;
  BackendPaths paths_;
};

TEST_F(ServiceBackendWords, ConfigtoolsWordsAndWhatItWrote) {
  struct Case {
    const char* name;
    std::string script;
    bool ok;
    std::string message;
  } cases[] = {
      {"refused for a granted user",
       "echo 'configtool: refused: the server option \"-u\" is not allowed' >&2; exit 1", false,
       "configtool: refused: the server option \"-u\" is not allowed"},
      {"nothing replaced", "printf 0", false,
       "configtool changed nothing in " + top_ +
           "/tftp: its server_args line no longer reads "
           "\"-s /srv/tftp\"."},
      {"says 1, wrote nothing", "printf 1", false,
       "configtool changed nothing in " + top_ +
           "/tftp: its server_args line no longer reads "
           "\"-s /srv/tftp\"."},
      {"replaced", "cp \"" + top_ + "/wanted\" \"$1\"; printf 1", true, ""},
      {"left unchanged, status 0",
       "printf 0; echo \"configtool: $1: not UTF-8 text; the file is left unchanged\" >&2", false,
       "configtool: " + top_ + "/tftp: not UTF-8 text; the file is left unchanged"},
  };
  ServerOptions options;
  options.folder = "/srv/boot";
  Write(top_ + "/wanted",
        "service tftp\n{\n\tdisable\t= yes\n\tserver_args\t= -v -s /srv/boot\n}\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(paths_.service_file, kDisabled);
    Tool(paths_.configtool, c.script);
    const BackendResult r = ServiceBackend(paths_).ApplyOptions(options);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.message, c.message);
  }
  // Options that cannot be served never reach configtool.
  Tool(paths_.configtool, "touch \"" + top_ + "/ran\"");
  options.folder = "/srv/my boot";
  EXPECT_FALSE(ServiceBackend(paths_).ApplyOptions(options).ok);
  EXPECT_FALSE(std::filesystem::exists(top_ + "/ran"));
}

TEST_F(ServiceBackendWords, XinetdtoolsLogAndThePort) {
  const std::string udp =
      "  sl  local_address rem_address   st\n"
      "   1: 00000000:0045 00000000:0000 07 00000000:00000000 00:00000000 00000000 0 0 7 2 0 0\n";
  struct Case {
    const char* name;
    const char* log;
    bool port_held;
    bool ok;
    const char* message;
  } cases[] = {
      {"started", "2026-12-08 19:00:00.001 xinetdtool[5:5] Launching xinetd (Morvane) ... ", true,
       true, "Launching xinetd (Morvane) ..."},
      {"refused",
       "2026-12-08 19:00:00.001 xinetdtool[5:5] Launching xinetd (Morvane) ... Authentication "
       "failed for command /usr/sbin/xinetd",
       true, false,
       "Launching xinetd (Morvane) ... Authentication failed for command /usr/sbin/xinetd"},
      {"lock",
       "2026-12-08 19:00:00.001 xinetdtool[5:5] Restarting xinetd (Morvane) ... not done: "
       "/run/xinetdtool.lock is not owned by root",
       true, false,
       "Restarting xinetd (Morvane) ... not done: /run/xinetdtool.lock is not owned by root"},
      {"started, nothing listens",
       "2026-12-08 19:00:00.001 xinetdtool[5:5] Launching xinetd (Morvane) ... ", false, false,
       "Launching xinetd (Morvane) ...\nNothing listens on UDP port 69 after xinetd was started; "
       "the system log says why."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(paths_.service_file, kEnabled);  // no edit needed: only xinetdtool runs
    Write(paths_.proc + "/net/udp", c.port_held ? udp : udp.substr(0, udp.find('\n') + 1));
    Tool(paths_.xinetdtool,
         std::string("[ \"$1\" = --restart ] || exit 1\necho '") + c.log + "' >&2");
    const BackendResult r = ServiceBackend(paths_).Start();
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.message, c.message);
  }
  // The runner's own words when the tool is not there.
  std::filesystem::remove(paths_.xinetdtool);
  const BackendResult r = ServiceBackend(paths_).Start();
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find(paths_.xinetdtool), std::string::npos) << r.message;
}

}  // namespace
}  // namespace tftpc
