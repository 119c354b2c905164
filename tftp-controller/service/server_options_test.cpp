#include "tftp-controller/service/server_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configtool/grant_rules.h"

namespace tftpc {
namespace {

ServerOptions Folder(const char* folder) {
  ServerOptions options;
  options.folder = folder;
  return options;
}

// Options -> line -> options gives them back; the line is the one expected; and configtool, run
// for a user polkit let through, accepts it as an edited server_args line. The rules of the
// configtool built beside this test may not know -a and -m yet: those rows then accept that one
// refusal.
TEST(ServerOptions, LineRoundTripsAndPassesTheGrantRules) {
  struct Case {
    const char* name;
    ServerOptions options;
    const char* line;
  };
  std::vector<Case> cases;
  cases.push_back({"defaults", Folder("/tmp"), "-v -s /tmp"});
  {
    ServerOptions o = Folder("/tmp");
    o.uploads = true;
    o.umask = 022;
    o.permissive = true;
    cases.push_back({"uploads", o, "-v -c -U 022 -p -s /tmp"});
  }
  {
    ServerOptions o = Folder("/tmp");
    o.umask = 0;
    o.block_size = 1468;
    o.idle_timeout = 5;
    o.retransmit_us = 250000;
    o.port_range = PortRange{30000, 30100};
    o.family = AddressFamily::kIPv4Only;
    cases.push_back({"protocol", o, "-v -4 -U 000 -B 1468 -t 5 -T 250000 -R 30000:30100 -s /tmp"});
  }
  {
    ServerOptions o = Folder("/tmp");
    o.family = AddressFamily::kIPv6Only;
    o.listen_address = "fe80::1";
    o.map_names = true;
    cases.push_back({"address6", o,
                     "-v -a [fe80::1] -6 -m /usr/share/qrb-tftp-controller/tftpd.remap -s /tmp"});
  }
  {
    ServerOptions o = Folder("/tmp");
    o.listen_address = "192.168.1.5";
    cases.push_back({"address4", o, "-v -a 192.168.1.5 -s /tmp"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProblemWith(c.options), std::nullopt);
    const std::string line = ServerArgsLine(c.options);
    EXPECT_EQ(line, c.line);
    ServerOptions back;
    std::vector<std::string> unknown;
    std::string err;
    ASSERT_TRUE(ParseServerArgs(line, &back, &unknown, &err)) << err;
    EXPECT_EQ(back, c.options);
    EXPECT_TRUE(unknown.empty());

    configtool::forGrantedUser = true;
    const std::string said =
        configtool::CheckEditedLine("server_args", "server_args = " + line + "\n", false);
    if (!c.options.listen_address.empty() && !said.empty())
      EXPECT_EQ(said, "the server option \"-a\" is not allowed");
    else if (c.options.map_names && !said.empty())
      EXPECT_EQ(said, "the server option \"-m\" is not allowed");
    else
      EXPECT_EQ(said, "");
  }
}

// Lines an administrator (or another program) wrote: long forms, attached values, any order,
// the insecure -i, and words the controller does not offer, which stay where they were.
TEST(ServerOptions, ParsesWhatOthersWrote) {
  struct Case {
    const char* line;
    bool ok;
    const char* folder;
    std::vector<std::string> unknown;
    const char* written;  // ServerArgsLine with the unknown words kept
  } cases[] = {
      {"-s /srv/tftp", true, "/srv/tftp", {}, "-v -s /srv/tftp"},
      {"\t--secure   --create --umask=0022 /srv/x", true, "/srv/x", {}, "-v -c -U 022 -s /srv/x"},
      {"/srv/tftp -i", true, "/srv/tftp", {}, "-v -s /srv/tftp"},  // insecure mode fixed
      {"--timeout 60 --retransmit=2000000 -B1024 -s /b",
       true,
       "/b",
       {},
       "-v -B 1024 -t 60 -T 2000000 -s /b"},
      {"-u tftp -s /srv/tftp",
       true,
       "/srv/tftp",
       {"-u", "tftp"},
       "-v -u tftp -s /srv/tftp"},  // the user's value is not taken for the folder
      {"-s /srv/tftp -u tftp", true, "/srv/tftp", {"-u", "tftp"}, "-v -u tftp -s /srv/tftp"},
      {"-vv -L -r blksize -s /a /b",
       true,
       "/b",
       {"-vv", "-L", "-r", "blksize", "/a"},
       "-v -vv -L -r blksize /a -s /b"},
      {"-m /etc/other.rules -s /a",
       true,
       "/a",
       {"-m", "/etc/other.rules"},
       "-v -m /etc/other.rules -s /a"},
      {"--address [::1] --ipv6 -s /a", true, "/a", {}, "-v -a [::1] -6 -s /a"},
      {"-t soon -p -s /a", false, "/a", {}, "-v -p -s /a"},  // the bad value is not written again
      {"-s /a -R", false, "/a", {}, "-v -s /a"},
      {"-v -s", false, "", {}, "-v -s "},
      {"", false, "", {}, "-v -s "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ServerOptions options;
    std::vector<std::string> unknown = {"left over"};
    std::string err;
    EXPECT_EQ(ParseServerArgs(c.line, &options, &unknown, &err), c.ok);
    EXPECT_EQ(err.empty(), c.ok) << err;
    EXPECT_EQ(options.folder, c.folder);
    EXPECT_EQ(unknown, c.unknown);
    EXPECT_EQ(ServerArgsLine(options, unknown), c.written);
  }
  ServerOptions options;
  std::vector<std::string> unknown;
  ParseServerArgs("-t x -s /a", &options, &unknown, nullptr);  // no room for the reason: fine
}

TEST(ServerOptions, ProblemsInWords) {
  struct Case {
    const char* name;
    void (*change)(ServerOptions*);
    const char* words;  // a part of the message; empty: no problem
  } cases[] = {
      {"fine", [](ServerOptions*) {}, ""},
      {"relative", [](ServerOptions* o) { o->folder = "srv/tftp"; }, "not a full path"},
      {"empty", [](ServerOptions* o) { o->folder = ""; }, "not a full path"},
      {"space", [](ServerOptions* o) { o->folder = "/srv/my files"; }, "holds a space"},
      {"tab", [](ServerOptions* o) { o->folder = "/srv/a\tb"; }, "holds a space"},
      {"brace", [](ServerOptions* o) { o->folder = "/srv/}"; }, "cannot carry"},
      {"newline", [](ServerOptions* o) { o->folder = "/srv/a\nb"; }, "cannot carry"},
      {"umask", [](ServerOptions* o) { o->umask = 01000; }, "at most 777"},
      {"umask 777", [](ServerOptions* o) { o->umask = 0777; }, ""},
      {"small block", [](ServerOptions* o) { o->block_size = 511; }, "between 512 and 65464"},
      {"large block", [](ServerOptions* o) { o->block_size = 65465; }, "between 512 and 65464"},
      // The bounds in.tftpd itself keeps: it does not serve beyond them.
      {"idle 0", [](ServerOptions* o) { o->idle_timeout = 0; }, ""},
      {"idle 10 digits", [](ServerOptions* o) { o->idle_timeout = 1000000000; }, "999999999"},
      {"retransmit short", [](ServerOptions* o) { o->retransmit_us = 9999; }, "between 10000"},
      {"retransmit 10000", [](ServerOptions* o) { o->retransmit_us = 10000; }, ""},
      {"retransmit 255 s", [](ServerOptions* o) { o->retransmit_us = 255000000; }, ""},
      {"retransmit long", [](ServerOptions* o) { o->retransmit_us = 255000001; }, "between 10000"},
      {"range",
       [](ServerOptions* o) {
         o->port_range = PortRange{200, 100};
       },
       "starts at 200, after its end 100"},
      {"port 0",
       [](ServerOptions* o) {
         o->port_range = PortRange{0, 100};
       },
       "1 and 65535"},
      {"port 65536",
       [](ServerOptions* o) {
         o->port_range = PortRange{1, 65536};
       },
       "1 and 65535"},
      {"name", [](ServerOptions* o) { o->listen_address = "router.lan"; }, "not an IPv4 or IPv6"},
      {"zone", [](ServerOptions* o) { o->listen_address = "fe80::1%eth0"; }, "not an IPv4"},
      {"port in address", [](ServerOptions* o) { o->listen_address = "10.0.0.1:69"; },
       "not an IPv4"},
      {"v4 only on v6",
       [](ServerOptions* o) {
         o->listen_address = "::1";
         o->family = AddressFamily::kIPv4Only;
       },
       "IPv4 only"},
      {"v6 only on v4",
       [](ServerOptions* o) {
         o->listen_address = "10.0.0.1";
         o->family = AddressFamily::kIPv6Only;
       },
       "IPv6 only"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerOptions options;
    c.change(&options);
    const std::optional<std::string> problem = ProblemWith(options);
    if (*c.words == '\0') {
      EXPECT_EQ(problem, std::nullopt);
      continue;
    }
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find(c.words), std::string::npos) << *problem;
  }
}

}  // namespace
}  // namespace tftpc
