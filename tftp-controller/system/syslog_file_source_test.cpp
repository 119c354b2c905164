#include "tftp-controller/system/syslog_file_source.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/scratch_folder.h"

namespace tftpc {
namespace {

constexpr std::int64_t kSecond = 1000000;

class UtcZone {
 public:
  UtcZone() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~UtcZone() {
    unsetenv("TZ");
    tzset();
  }
};

TEST(SyslogFile, ReadsInTftpdLinesOfBothTimeFormatsAndNoOthers) {
  UtcZone utc;
  const std::int64_t now = 1796760000LL * kSecond;  // 2026-12-08T20:00:00Z
  const std::int64_t at = 1796756387LL * kSecond;   // 2026-12-08T18:59:47Z
  const struct {
    const char* line;
    bool ok;
    std::int64_t time;
    pid_t pid;
    const char* message;
  } cases[] = {
      {"Dec  8 18:59:47 desk in.tftpd[9154]: sending NAK (1, File not found) to 127.0.0.1", true,
       at, 9154, "sending NAK (1, File not found) to 127.0.0.1"},
      {"2026-12-08T19:59:47.123456+01:00 desk in.tftpd[9152]: RRQ from ::1 filename a b", true,
       at + 123456, 9152, "RRQ from ::1 filename a b"},
      {"2026-12-08T18:59:47Z desk in.tftpd[1]: ", true, at, 1, ""},
      {"2026-12-08T16:29:47.5-02:30 desk in.tftpd[2]: x", true, at + 500000, 2, "x"},
      // New year's eve read just after midnight: last year's.
      {"Dec 31 23:59:59 desk in.tftpd[3]: y", true, 1798761599LL * kSecond, 3, "y"},
      {"Dec  8 18:59:47 desk sshd[12]: RRQ from 10.0.0.9 filename x", false, 0, 0, ""},
      {"Dec  8 18:59:47 desk evil in.tftpd[12]: RRQ from 10.0.0.9 filename x", false, 0, 0, ""},
      {"Dec  8 18:59:47 desk in.tftpd: RRQ from 10.0.0.9 filename x", false, 0, 0, ""},
      {"Dec  8 18:59:47 desk in.tftpd[12x]: RRQ", false, 0, 0, ""},
      {"Dex  8 18:59:47 desk in.tftpd[12]: RRQ", false, 0, 0, ""},
      {"2026-12-08T18:59:47 desk in.tftpd[12]: no zone", false, 0, 0, ""},
      {"", false, 0, 0, ""},
  };
  for (const auto& c : cases) {
    LogLine line{};
    const std::int64_t when = c.time == 1798761599LL * kSecond ? 1798761610LL * kSecond : now;
    ASSERT_EQ(ParseSyslogLine(c.line, when, &line), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(line.time_usec, c.time) << c.line;
    EXPECT_EQ(line.pid, c.pid) << c.line;
    EXPECT_EQ(line.message, c.message) << c.line;
  }
}

std::vector<std::string> Messages(SyslogFileSource* source) {
  std::vector<std::string> out;
  for (const LogLine& line : source->ReadNew()) out.push_back(line.message);
  return out;
}

using Lines = std::vector<std::string>;

TEST(SyslogFile, FollowsTheFileAsItGrowsIsRotatedAndTruncated) {
  test_support::ScratchFolder scratch("syslog-file");
  const std::string path = scratch.File("syslog");
  std::string err;
  EXPECT_EQ(SyslogFileSource::Open(path, &err), nullptr);
  EXPECT_NE(err.find(path), std::string::npos) << err;

  std::ofstream(path) << "Dec  8 18:00:00 desk in.tftpd[1]: RRQ from 10.0.0.1 filename old\n";
  auto source = SyslogFileSource::Open(path, &err);
  ASSERT_NE(source, nullptr) << err;
  EXPECT_EQ(source->Describe(), path);
  EXPECT_EQ(source->fd(), -1);
  EXPECT_EQ(Messages(source.get()), Lines{}) << "what was there before is not new";

  std::FILE* writer = std::fopen(path.c_str(), "a");
  ASSERT_NE(writer, nullptr);
  std::fputs("Dec  8 18:00:01 desk cron[5]: RRQ from nobody filename x\n", writer);
  std::fputs("Dec  8 18:00:02 desk in.tftpd[2]: RRQ from 10.0.0.2 filename a\n", writer);
  std::fputs("Dec  8 18:00:03 desk in.tftpd[3]: RRQ from 10.0.0.2 fil", writer);
  std::fflush(writer);
  EXPECT_EQ(Messages(source.get()), Lines{"RRQ from 10.0.0.2 filename a"});
  std::fputs("ename b\n", writer);
  // A line far longer than any of the server's is dropped whole, and the next one still read.
  std::fputs(("Dec  8 18:00:04 desk in.tftpd[4]: " + std::string(40000, 'z') + "\n").c_str(),
             writer);
  std::fputs("Dec  8 18:00:05 desk in.tftpd[5]: RRQ from 10.0.0.2 filename c\n", writer);
  std::fflush(writer);
  EXPECT_EQ(Messages(source.get()),
            (Lines{"RRQ from 10.0.0.2 filename b", "RRQ from 10.0.0.2 filename c"}));

  // Rotated: the daemon writes on into the renamed file until told, then into a new one.
  std::filesystem::rename(path, path + ".1");
  std::fputs("Dec  8 18:00:06 desk in.tftpd[6]: RRQ from 10.0.0.2 filename last-of-old\n", writer);
  std::fclose(writer);
  std::ofstream(path) << "Dec  8 18:00:07 desk in.tftpd[7]: RRQ from 10.0.0.2 filename new\n";
  EXPECT_EQ(Messages(source.get()),
            (Lines{"RRQ from 10.0.0.2 filename last-of-old", "RRQ from 10.0.0.2 filename new"}));
  EXPECT_EQ(Messages(source.get()), Lines{});

  // Truncated in place and written again.
  std::ofstream(path, std::ios::trunc) << "Dec  8 18:00:08 desk in.tftpd[8]: truncated\n";
  const auto lines = source->ReadNew();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, "truncated");
  EXPECT_EQ(lines[0].pid, 8);
}

}  // namespace
}  // namespace tftpc
