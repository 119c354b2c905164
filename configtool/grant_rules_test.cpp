#include "configtool/grant_rules.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace configtool {
namespace {

using platform::Array;
using platform::Value;

TEST(GrantRules, WhoIsAGrantedUser) {
  struct Case {
    uid_t real, effective;
    const char* pkexec_uid;
    bool granted;
  } cases[] = {
      {0, 0, nullptr, false},       // root itself
      {0, 0, "0", false},           // root through pkexec
      {0, 0, "1000", true},         // a user through pkexec
      {0, 0, "", true},             // set but naming nobody: fail closed
      {0, 0, "00", true},           // not exactly "0"
      {0, 0, "0 ", true},           //
      {1000, 0, nullptr, true},     // a set-user-ID install
      {1000, 1000, "1000", false},  // not root at all: the kernel decides
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.real) + " " + (c.pkexec_uid ? c.pkexec_uid : "(unset)"));
    EXPECT_EQ(RunsForGrantedUser(c.real, c.effective, c.pkexec_uid), c.granted);
  }
}

TEST(GrantRules, OnlyTheServiceFilesAndTheirParameters) {
  struct Case {
    const char* path;
    int count;
    const char* name;
    bool allowed;
  } cases[] = {
      {"/etc/xinetd.d/tftp", 5, "server_args", true},
      {"/etc/xinetd.d/tftp", 5, "disable", true},
      {"/etc/xinetd.d/tftp", 5, "user", false},
      {"/etc/xinetd.d/tftp", 5, "server", false},
      {"/etc/xinetd.d/tftp", 5, "server_arg", false},
      {"/etc/xinetd.d/tftp", 4, "ProgramArguments", false},  // not as a property list
      {"/etc/xinetd.d/../shadow", 5, "server_args", false},
      {"/etc/xinetd.d//tftp", 5, "server_args", false},
      {"/etc/shadow", 5, "server_args", false},
      {"etc/xinetd.d/tftp", 5, "server_args", false},
      {"/etc/qrb-tftp-controller/tftp.plist", 4, "ProgramArguments", true},
      {"/etc/qrb-tftp-controller/tftp.plist", 3, "ProgramArguments", true},
      {"/etc/qrb-tftp-controller/tftp.plist", 4, "UserName", false},
      {"/etc/qrb-tftp-controller/tftp.plist", 4, "Program", false},
      {"/etc/qrb-tftp-controller/tftp.plist", 5, "server_args", false},
      {"/etc/shadow", 4, "ProgramArguments", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.count) + " " + c.name);
    EXPECT_EQ(CheckRequest(c.path, c.count, c.name).empty(), c.allowed)
        << CheckRequest(c.path, c.count, c.name);
  }
}

TEST(GrantRules, TheEditedLine) {
  struct Case {
    const char* name;
    std::string line;
    bool at_end;
    const char* refusal;  // a part of the reason, or "" when allowed
  } cases[] = {
      {"server_args", "\tserver_args\t= -s /srv\n", false, ""},
      {"server_args", "server_args = --timeout 1 --secure /\r\n", false, ""},
      {"server_args", "server_args = -s -c -p -v -4 -U 022 -B 1468 -T 100000 -R 1:2 /", true, ""},
      {"server_args", "server_args = -6 --create --permissive --verbose --umask 7 /\n", false, ""},
      {"server_args", "server_args = --blocksize 512 --retransmit 5 --port-range 100:200 /\n",
       false, ""},
      {"server_args", "server_args = -s -u root /srv\n", false, "\"-u\" is not allowed"},
      {"server_args", "server_args = --user root /\n", false, "not allowed"},
      {"server_args", "server_args = -su root /\n", false, "not allowed"},
      {"server_args", "server_args = -s -m /etc/shadow /\n", false, "\"-m\" is not allowed"},
      {"server_args", "server_args = -P /etc/passwd /\n", false, "not allowed"},
      {"server_args", "server_args = -l -a 0.0.0.0 /\n", false, "not allowed"},
      {"server_args", "server_args = -a 0.0.0.0 -l /\n", false, "\"-l\" is not allowed"},
      {"server_args",
       "server_args = -v -a 192.168.1.5 -m /usr/share/qrb-tftp-controller/tftpd.remap -s /srv\n",
       false, ""},
      {"server_args", "server_args = -a localhost -s /srv\n", false, "-a takes only a literal"},
      {"server_args", "server_args = --map-file /srv/x.remap -s /srv\n", false,
       "\"--map-file\" is not allowed with any file but "
       "/usr/share/qrb-tftp-controller/tftpd.remap"},
      {"server_args", "server_args = --timeout=1 /\n", false, "not allowed"},
      {"server_args", "server_args = -s /srv /\n", false, "not allowed"},  // two folders
      {"server_args", "server_args = -U 0x1 /\n", false, "lacks a valid value"},
      {"server_args", "server_args = -U 08 /\n", false, "lacks a valid value"},
      {"server_args", "server_args = -t /\n", false, "lacks a valid value"},
      {"server_args", "server_args = -R 1- /\n", false, "lacks a valid value"},
      {"server_args", "server_args = -t 1234567890 /\n", false, "lacks a valid value"},
      {"server_args", "server_args = -s srv\n", false, "not an absolute path"},
      {"server_args", "server_args = -s\n", false, "not an absolute path"},
      {"server_args", "server_args = -s /no/such/folder/here\n", false, "not an existing folder"},
      {"server_args", "server_args = -s /etc/passwd\n", false, "not an existing folder"},
      {"server_args", "server_args = -s /}\n", false, "not allowed there"},
      {"server_args", "server_args =\n", false, "is not \"server_args = VALUE\""},
      {"server_args", "server_args -s /\n", false, "is not \"server_args = VALUE\""},
      {"server_args", "server_args=-s /\n", false, "is not \"server_args = VALUE\""},
      {"server_args", "server_args += -u root /\n", false, "is not \"server_args = VALUE\""},
      {"server_args", "# server_args = -s /\n", false, "is not \"server_args = VALUE\""},
      {"server_args", "server_args = -s /", false, "join two lines"},
      {"server_args", "server_args = -s /\nuser = root\n", false, "more than one line"},
      {"server_args", "server_args = -s /\ruser = root\n", false, "more than one line"},
      {"server_args", "server_args = -s /\xE2\x80\xA8user = root\n", false, "more than one line"},
      {"server_args", "server_args = -s /\xC2\x85", false, ""},
      {"disable", "\tdisable\t\t= no\n", false, ""},
      {"disable", "disable = yes", true, ""},
      {"disable", "disable = maybe\n", false, "yes or no"},
      {"disable", "disable = no no\n", false, "yes or no"},
      {"disable", "disabled = no\n", false, "is not \"disable = VALUE\""},
      {"user", "user = nobody\n", false, "only server_args and disable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string why = CheckEditedLine(c.name, c.line, c.at_end);
    if (*c.refusal == '\0')
      EXPECT_EQ(why, "");
    else
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
  }
}

// -a takes a literal address and nothing else; -m takes the one rules file and no other name
// for it. Each value is given both ways the arguments arrive: in an xinetd line and as a word of
// the job definition's array (where a word may hold blanks).
TEST(GrantRules, TheListenAddressAndTheRulesFile) {
  // A link to the rules file, which names the same file by another path.
  char folder[] = "/tmp/grant-rules-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string link = std::string(folder) + "/tftpd.remap";
  ASSERT_EQ(symlink(kRulesFile, link.c_str()), 0);
  struct Case {
    std::vector<std::string> option;  // the option and its value
    bool allowed;
  } cases[] = {
      {{"-a", "192.168.1.5"}, true},
      {{"--address", "0.0.0.0"}, true},
      {{"-a", "127.0.0.1"}, true},
      {{"-a", "[::1]"}, true},
      {{"-a", "[fe80::1:2]"}, true},
      {{"-a", "[::ffff:192.168.1.5]"}, true},
      {{"-a", "::1"}, false},               // in.tftpd would read ":1" as a port
      {{"-a", "192.168.1.5:69"}, false},    // the port stays the service's
      {{"-a", "[::1]:69"}, false},          //
      {{"-a", ":69"}, false},               //
      {{"-a", "[fe80::1%eth0]"}, false},    // a zone
      {{"-a", "localhost"}, false},         // a name would be looked up
      {{"-a", "tftp.example.org"}, false},  //
      {{"-a", "192.168.1"}, false},         // short forms inet_aton would take
      {{"-a", "3232235781"}, false},        //
      {{"-a", "0x7f.0.0.1"}, false},        //
      {{"-a", "010.0.0.1"}, false},         // octal to some readers, decimal to others
      {{"-a", "192.168.1.256"}, false},
      {{"-a", ""}, false},
      {{"-a", "[]"}, false},
      {{"-a", "1.2.3.4;reboot"}, false},
      {{"-a", "1.2.3.4 -u root"}, false},
      {{"-a", "$(reboot)"}, false},
      {{"-a", std::string("1.2.3.4\0-u", 10)}, false},
      {{"-a", "1.2.3.4\n"}, false},
      {{"-a", "-s"}, false},
      {{"-a"}, false},  // the value missing: the folder is not one
      {{"-m", "/usr/share/qrb-tftp-controller/tftpd.remap"}, true},
      {{"--map-file", "/usr/share/qrb-tftp-controller/tftpd.remap"}, true},
      {{"-m", "/etc/shadow"}, false},
      {{"-m", "/usr/share/qrb-tftp-controller/other.remap"}, false},
      {{"-m", "/usr/share/qrb-tftp-controller/../qrb-tftp-controller/tftpd.remap"}, false},
      {{"-m", "/usr/share/qrb-tftp-controller//tftpd.remap"}, false},
      {{"-m", "usr/share/qrb-tftp-controller/tftpd.remap"}, false},
      {{"-m", "/usr/share/qrb-tftp-controller/tftpd.remap/"}, false},
      {{"-m", link}, false},  // a link to it is another path, which its owner may point elsewhere
      {{"-m", "/usr/share/qrb-tftp-controller/tftpd.remap "}, false},
      {{"-m"}, false},
      {{"-m", "/usr/share/qrb-tftp-controller/tftpd.remap", "-a", "10.0.0.1", "-c"}, true},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& word : c.option) shown += "<" + word + ">";
    SCOPED_TRACE(shown);
    std::vector<std::string> words = {"-v"};
    words.insert(words.end(), c.option.begin(), c.option.end());
    words.insert(words.end(), {"-s", "/"});
    EXPECT_EQ(CheckServerArguments(words, false).empty(), c.allowed)
        << CheckServerArguments(words, false);
    // The same words in an xinetd line, where they can only be separated by blanks.
    bool one_line_each = true;
    std::string line = "server_args =";
    for (const std::string& word : words) {
      if (word.empty() || word.find_first_of(" \t\n", 0) != std::string::npos ||
          word.find('\0') != std::string::npos)
        one_line_each = false;
      line += " " + word;
    }
    if (one_line_each) {
      EXPECT_EQ(CheckEditedLine("server_args", line + "\n", false).empty(), c.allowed)
          << CheckEditedLine("server_args", line + "\n", false);
    }
  }
  unlink(link.c_str());
  rmdir(folder);
}

TEST(GrantRules, TheProgramArguments) {
  auto Strings = [](std::vector<std::string> words) {
    Array array;
    for (std::string& word : words) array.emplace_back(std::move(word));
    return Value(std::move(array));
  };
  struct Case {
    Value value;
    const char* refusal;  // a part of the reason, or "" when allowed
  } cases[] = {
      {Strings({"/usr/sbin/in.tftpd", "-s", "/"}), ""},
      {Strings({"/usr/sbin/in.tftpd", "-i", "/"}), "\"-i\" is not allowed"},
      {Strings({"/usr/sbin/in.tftpd", "-s", "-u", "root", "/"}), "\"-u\" is not allowed"},
      {Strings({"/usr/sbin/in.tftpd", "-a", "[::1]", "-m",
                "/usr/share/qrb-tftp-controller/tftpd.remap", "/"}),
       ""},
      {Strings({"/usr/sbin/in.tftpd", "-a", "127.0.0.1 -u root", "/"}),
       "-a takes only a literal address"},
      {Strings({"/usr/sbin/in.tftpd", "-m", "/tmp/rules", "/"}),
       "\"-m\" is not allowed with any file"},
      {Strings({"/usr/sbin/in.tftpd", "-s", "/a folder that is not"}), "not an existing folder"},
      {Strings({"/usr/sbin/in.tftpd", "-s", "/}"}), "not an existing folder"},  // } is fine here
      {Strings({"/usr/sbin/in.tftpd", "-s", "/\n"}), "not allowed there"},
      {Strings({"/usr/sbin/in.tftpd", "-s", "-c"}), "not an absolute path"},
      {Strings({"/usr/sbin/in.tftpd"}), "no served folder"},
      {Strings({"/bin/sh", "-s", "/"}), "must start with /usr/sbin/in.tftpd"},
      {Strings({"/"}), "must start with /usr/sbin/in.tftpd"},
      {Strings({}), "must start with"},
      {Value(Array{Value("/usr/sbin/in.tftpd"), Value(true), Value("/")}), "only strings"},
      {Value("/srv/tftp"), "must stay an array"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    const std::string why = CheckProgramArguments(c.value);
    if (*c.refusal == '\0')
      EXPECT_EQ(why, "");
    else
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace configtool
