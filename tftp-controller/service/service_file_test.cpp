#include "tftp-controller/service/service_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace tftpc {
namespace {

// Crafted service files: what is read, and whether configtool could change it.
TEST(ServiceFile, ReadsTheTftpServiceAsXinetdDoes) {
  struct Case {
    const char* name;
    const char* text;
    bool found, disabled;
    const char* args;
    unsigned port;
    const char* bind;
    const char* problem;  // a part of the problem; empty: none
  } cases[] = {
      {"installed",
       "# The TFTP service, installed switched off.\nservice tftp\n{\n\tdisable\t\t= yes\n"
       "\tsocket_type\t= dgram\n\twait\t\t= yes\n\tserver\t\t= /usr/sbin/in.tftpd\n"
       "\tserver_args\t= -s /srv/tftp\n}\n",
       true, true, "-s /srv/tftp", 69, "", ""},
      {"enabled, CR LF, brace on the service line",
       "service tftp {\r\n  disable = no\r\n  server_args =   -v -c  -s /srv/x  \r\n"
       "  port = 6969\r\n  bind = 127.0.0.1\r\n}\r\n",
       true, false, "-v -c  -s /srv/x", 6969, "127.0.0.1", ""},
      {"other services first, and after",
       "service echo\n{\n disable = no\n server_args = nothing\n}\nservice tftp\n{\n"
       " disable = no\n server_args = -s /a\n}\nservice tftp\n{\n server_args = -s /b\n}\n",
       true, false, "-s /a", 69, "", "mentions a setting"},
      {"tftp-hpa is no tftp", "service tftp-hpa\n{\n disable = no\n server_args = -s /a\n}\n",
       false, true, "", 69, "", "no service named tftp"},
      {"commented out",
       "service tftp\n{\n# disable = no\n disable = yes\n #server_args = -s /old\n"
       " server_args = -s /new\n}\n",
       true, true, "-s /new", 69, "", "Line 3 of"},
      {"plus equals",
       "service tftp\n{\n disable = no\n server_args = -s /a\n server_args += -c\n}\n", true, false,
       "-s /a", 69, "", "server_args +="},
      {"no disable line: xinetd serves it", "service tftp\n{\n server_args = -s /a\n}\n", true,
       false, "-s /a", 69, "", "no disable line"},
      {"empty server_args", "service tftp\n{\n disable = yes\n server_args =\n}\n", true, true, "",
       69, "", "no server_args value"},
      {"a comment names disable first",
       "# disable = yes keeps it off\nservice tftp\n{\n disable = no\n server_args = -s /a\n}\n",
       true, false, "-s /a", 69, "", "Line 1 of"},
      {"odd values", "service tftp\n{\n disable = maybe\n server_args = -s /a\n port = 70000\n}\n",
       true, true, "-s /a", 69, "", ""},
      {"no last newline", "service tftp\n{\ndisable=no\nserver_args=-s /a", true, false, "-s /a",
       69, "", ""},
  };
  char tmpl[] = "/tmp/service_file_test.XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(tmpl, std::ios::binary | std::ios::trunc) << c.text;
    const ServiceDefinition d = ReadServiceDefinition(tmpl);
    EXPECT_EQ(d.found, c.found);
    EXPECT_EQ(d.disabled, c.disabled);
    EXPECT_EQ(d.server_args, c.args);
    EXPECT_EQ(d.port, c.port);
    EXPECT_EQ(d.bind, c.bind);
    if (*c.problem == '\0')
      EXPECT_EQ(d.problem, "");
    else
      EXPECT_NE(d.problem.find(c.problem), std::string::npos) << d.problem;
  }
  unlink(tmpl);
  const ServiceDefinition missing = ReadServiceDefinition(tmpl);
  EXPECT_FALSE(missing.found);
  EXPECT_TRUE(missing.disabled);
  EXPECT_NE(missing.problem.find(tmpl), std::string::npos) << missing.problem;
}

}  // namespace
}  // namespace tftpc
