// The translation of job definitions, read through the property-list reader as launchctl reads
// them, into the exact unit texts systemd is given; and the refusals, each naming its key.
#include "launchctl/translation.h"

#include <gtest/gtest.h>

#include "launchctl/job_list.h"
#include "platform/plist/file.h"

namespace launchctl {
namespace {

std::optional<int> FakePorts(const std::string& name, bool datagram) {
  if (name == "tftp" && datagram) return 69;
  if (name == "telnet" && !datagram) return 23;
  return std::nullopt;
}

std::optional<Units> FromXml(const std::string& body, std::string* err) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
      "<dict>" +
      body + "</dict></plist>\n";
  std::optional<platform::Value> root = platform::ParsePlist(xml, err);
  if (!root) return std::nullopt;
  std::optional<Job> job = JobFromPlist(*root, err);
  if (!job) return std::nullopt;
  return Translate(*job, "/d.plist", FakePorts, err);
}

constexpr char kHead[] =
    "# Made by launchctl from a job definition; \"launchctl unload\" removes it.\n";

struct Case {
  const char* what;
  std::string body;
  std::vector<UnitFile> files;
  std::vector<std::string> start, stop;
};

const Case kCases[] = {
    {"the TFTP job: a datagram listener, inetd's wait mode",
     "<key>Label</key><string>org.qrb.tftp</string><key>Disabled</key><true/>"
     "<key>ProgramArguments</key><array><string>/usr/sbin/in.tftpd</string><string>-s</string>"
     "<string>/srv/tftp</string></array><key>Sockets</key><dict><key>Listeners</key><dict>"
     "<key>SockType</key><string>dgram</string><key>SockServiceName</key><string>tftp</string>"
     "</dict></dict><key>inetdCompatibility</key><dict><key>Wait</key><true/></dict>"
     "<key>Unknown</key><date>2020-01-01T00:00:00Z</date>",
     {{"org.qrb.tftp.service",
       std::string(kHead) +
           "# Label=\"org.qrb.tftp\"\n# Definition=\"/d.plist\"\n"
           "# Argument=\"/usr/sbin/in.tftpd\"\n# Argument=\"-s\"\n# Argument=\"/srv/tftp\"\n\n"
           "[Unit]\nDescription=org.qrb.tftp (launchd job)\n\n[Service]\nType=exec\n"
           "ExecStart=\"/usr/sbin/in.tftpd\" \"-s\" \"/srv/tftp\"\nStandardInput=socket\n"},
      {"org.qrb.tftp.socket",
       std::string(kHead) +
           "# Label=\"org.qrb.tftp\"\n# Definition=\"/d.plist\"\n"
           "# Argument=\"/usr/sbin/in.tftpd\"\n# Argument=\"-s\"\n# Argument=\"/srv/tftp\"\n\n"
           "[Unit]\nDescription=org.qrb.tftp (sockets of launchd job)\n\n[Socket]\n"
           "ListenDatagram=69\nBindIPv6Only=both\nAccept=no\n\n[Install]\n"
           "WantedBy=sockets.target\n"}},
     {"org.qrb.tftp.socket"},
     {"org.qrb.tftp.socket", "org.qrb.tftp.service"}},
    {"every service setting, with values systemd would otherwise expand or unquote",
     "<key>Label</key><string>my job/a-b</string><key>Program</key><string>/bin/echo</string>"
     "<key>ProgramArguments</key><array><string>echo</string><string>100%</string>"
     "<string>$HOME</string><string>a\"b\\c</string><string></string></array>"
     "<key>RunAtLoad</key><true/><key>KeepAlive</key><true/>"
     "<key>UserName</key><string>nobody</string><key>GroupName</key><string>nogroup</string>"
     "<key>InitGroups</key><true/><key>WorkingDirectory</key><string>/var/lib/x y</string>"
     "<key>StandardOutPath</key><string>/tmp/o%</string>"
     "<key>EnvironmentVariables</key><dict><key>A</key><string>x %n $y \"q\"</string></dict>"
     "<key>Umask</key><integer>18</integer><key>Nice</key><integer>-5</integer>",
     {{"my\\x20job-a\\x2db.service",
       std::string(kHead) +
           "# Label=\"my job/a-b\"\n# Definition=\"/d.plist\"\n# Program=\"/bin/echo\"\n"
           "# Argument=\"echo\"\n# Argument=\"100%\"\n# Argument=\"$HOME\"\n"
           "# Argument=\"a\"b\\c\"\n# Argument=\"\"\n\n"
           "[Unit]\nDescription=my job/a-b (launchd job)\n\n[Service]\nType=exec\n"
           "ExecStart=@\"/bin/echo\" \"echo\" \"100%%\" \"$$HOME\" \"a\\\"b\\\\c\" \"\"\n"
           "Restart=always\nUser=nobody\nGroup=nogroup\nWorkingDirectory=/var/lib/x y\n"
           "StandardOutput=append:/tmp/o%%\nEnvironment=\"A=x %%n $y \\\"q\\\"\"\nUMask=0022\n"
           "Nice=-5\n\n[Install]\nWantedBy=multi-user.target\n"}},
     {"my\\x20job-a\\x2db.service"},
     {"my\\x20job-a\\x2db.service"}},
    {"inetd's nowait mode: one service instance per connection",
     "<key>Label</key><string>echo</string><key>Program</key><string>/usr/bin/cat</string>"
     "<key>inetdCompatibility</key><dict><key>Wait</key><false/></dict>"
     "<key>Sockets</key><dict><key>L</key><array><dict><key>SockServiceName</key>"
     "<integer>7000</integer><key>SockFamily</key><string>IPv4</string></dict><dict>"
     "<key>SockNodeName</key><string>::1</string><key>SockServiceName</key>"
     "<string>telnet</string><key>SockPassive</key><true/></dict></array></dict>",
     {{"echo@.service",
       std::string(kHead) +
           "# Label=\"echo\"\n# Definition=\"/d.plist\"\n# Program=\"/usr/bin/cat\"\n\n"
           "[Unit]\nDescription=echo (launchd job)\n\n[Service]\nType=exec\n"
           "ExecStart=\"/usr/bin/cat\"\nStandardInput=socket\n"},
      {"echo.socket",
       std::string(kHead) +
           "# Label=\"echo\"\n# Definition=\"/d.plist\"\n# Program=\"/usr/bin/cat\"\n\n"
           "[Unit]\nDescription=echo (sockets of launchd job)\n\n[Socket]\n"
           "ListenStream=0.0.0.0:7000\nListenStream=[::1]:23\nAccept=yes\n\n[Install]\n"
           "WantedBy=sockets.target\n"}},
     {"echo.socket"},
     {"echo.socket", "echo@*.service"}},
    {"a job that only loads: nothing started, no install section",
     "<key>Label</key><string>.hidden</string><key>ProgramArguments</key><array>"
     "<string>/bin/true</string></array><key>RunAtLoad</key><false/>",
     {{"\\x2ehidden.service",
       std::string(kHead) +
           "# Label=\".hidden\"\n# Definition=\"/d.plist\"\n# Argument=\"/bin/true\"\n\n"
           "[Unit]\nDescription=.hidden (launchd job)\n\n[Service]\nType=exec\n"
           "ExecStart=\"/bin/true\"\n"}},
     {},
     {"\\x2ehidden.service"}},
};

TEST(Translate, GivesTheExactUnits) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::string err;
    std::optional<Units> units = FromXml(c.body, &err);
    ASSERT_TRUE(units) << err;
    ASSERT_EQ(units->files.size(), c.files.size());
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      EXPECT_EQ(units->files[i].name, c.files[i].name);
      EXPECT_EQ(units->files[i].text, c.files[i].text);
    }
    EXPECT_EQ(units->start, c.start);
    EXPECT_EQ(units->stop, c.stop);
  }
}

struct Refusal {
  std::string body;
  std::string message;
};

std::string Run(const std::string& extra) {
  return "<key>Label</key><string>j</string><key>ProgramArguments</key><array>"
         "<string>/bin/x</string></array>" +
         extra;
}

std::string Listener(const std::string& keys) {
  return "<key>Sockets</key><dict><key>L</key><dict>" + keys + "</dict></dict>";
}

const Refusal kRefusals[] = {
    {"<key>Program</key><string>/bin/x</string>", "The job definition has no Label"},
    {"<key>Label</key><integer>3</integer>", "The value of Label is not a string"},
    {"<key>Label</key><string>a&#10;b</string><key>Program</key><string>/bin/x</string>",
     "The value of Label holds a control character"},
    {"<key>Label</key><string>j</string><key>ProgramArguments</key><array><string>/bin/x"
     "</string><string>a&#10;ExecStartPre=/bin/evil</string></array>",
     "The value of ProgramArguments holds a control character"},
    {"<key>Label</key><string>j</string><key>ProgramArguments</key><array>"
     "<string>bin/x</string></array>",
     "The value of ProgramArguments is not an absolute path"},
    {"<key>Label</key><string>j</string><key>Program</key><string>x</string>",
     "The value of Program is not an absolute path"},
    {"<key>Label</key><string>j</string>",
     "The value of ProgramArguments is missing or empty, and there is no Program"},
    {"<key>Label</key><string>j</string><key>ProgramArguments</key><array><integer>1</integer>"
     "</array>",
     "The value of ProgramArguments is not an array of strings"},
    {Run("<key>KeepAlive</key><dict/>"), "The value of KeepAlive is not a boolean"},
    {Run("<key>UserName</key><string>root&#10;User=x</string>"),
     "The value of UserName is not a user or group name"},
    {Run("<key>UserName</key><string>u</string><key>InitGroups</key><false/>"),
     "The value of InitGroups is false"},
    {Run("<key>WorkingDirectory</key><string>/a/../b</string>"),
     "The value of WorkingDirectory is not a normalized path"},
    {Run("<key>StandardInPath</key><string>/dev/.</string>"),
     "The value of StandardInPath is not a normalized path"},
    {Run("<key>RootDirectory</key><string>/srv </string>"),
     "The value of RootDirectory ends in a space"},
    {Run("<key>StandardErrorPath</key><string>/log\\</string>"),
     "The value of StandardErrorPath ends in a space, a slash or a backslash"},
    {Run("<key>EnvironmentVariables</key><dict><key>A</key><string>1&#10;2</string></dict>"),
     "The value of EnvironmentVariables:A holds a control character"},
    {Run("<key>EnvironmentVariables</key><dict><key>A=B</key><string>1</string></dict>"),
     "The value of EnvironmentVariables names a bad variable"},
    {Run("<key>Umask</key><integer>512</integer>"), "The value of Umask is out of range"},
    {Run("<key>Nice</key><integer>20</integer>"), "The value of Nice is out of range"},
    {Run(Listener("<key>SockType</key><string>dgram</string><key>SockServiceName</key>"
                  "<string>tftp</string>") +
         "<key>inetdCompatibility</key><dict><key>Wait</key><false/></dict>"),
     "The value of inetdCompatibility:Wait is false for a datagram socket"},
    {Run(Listener("<key>SockServiceName</key><string>nosuch</string>")),
     "The value of Sockets:L:SockServiceName names no port"},
    {Run(Listener("<key>SockServiceName</key><string>70000</string>")),
     "The value of Sockets:L:SockServiceName names no port"},
    {Run(Listener("<key>SockServiceName</key><string>23</string><key>SockPassive</key><false/>")),
     "The value of Sockets:L:SockPassive is false"},
    {Run(Listener("<key>SockServiceName</key><string>23</string><key>SockNodeName</key>"
                  "<string>localhost</string>")),
     "The value of Sockets:L:SockNodeName is not a numeric address"},
    {Run(Listener("<key>SockType</key><string>raw</string>")),
     "The value of Sockets:L:SockType is not \"stream\" or \"dgram\""},
    {Run("<key>inetdCompatibility</key><dict><key>Wait</key><string>yes</string></dict>"),
     "The value of inetdCompatibility:Wait is not a boolean"},
};

TEST(Translate, RefusesNamingTheKey) {
  for (const Refusal& r : kRefusals) {
    SCOPED_TRACE(r.body);
    std::string err;
    EXPECT_FALSE(FromXml(r.body, &err));
    EXPECT_TRUE(err.starts_with(r.message)) << err;
  }
}

// What list shows is read back from the units' markers, every argument as it was written.
TEST(JobList, ReadsTheJobBackFromItsUnits) {
  std::string err;
  std::optional<Units> units = FromXml(kCases[1].body, &err);
  ASSERT_TRUE(units) << err;
  std::vector<LoadedJob> jobs = GroupByLabel(units->files);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].service, "my\\x20job-a\\x2db.service");
  EXPECT_EQ(DescribeJob(jobs[0], {4321, 2}),
            "{\n\t\"Label\" = \"my job/a-b\";\n\t\"LastExitStatus\" = 2;\n\t\"PID\" = 4321;\n"
            "\t\"Program\" = \"/bin/echo\";\n\t\"ProgramArguments\" = (\n\t\t\"echo\";\n"
            "\t\t\"100%\";\n\t\t\"$HOME\";\n\t\t\"a\\\"b\\\\c\";\n\t\t\"\";\n\t);\n};\n");
  EXPECT_EQ(ListLine(jobs[0], {std::nullopt, 0}), "-\t0\tmy job/a-b\n");
  EXPECT_FALSE(ReadMarker("[Unit]\n# Label=\"x\"\n"));
}

}  // namespace
}  // namespace launchctl
