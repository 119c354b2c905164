#include "tftp-controller/checks/launchd_jobs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/scratch_folder.h"

namespace tftpc {
namespace {

std::string Marked(const std::string& label, const std::string& definition,
                   const std::string& body) {
  return std::string(kLaunchdUnitMarker) + "; \"launchctl unload\" removes it.\n# Label=\"" +
         label + "\"\n# Definition=\"" + definition + "\"\n# Argument=\"/usr/sbin/in.tftpd\"\n\n" +
         body;
}

TEST(ParseListenDatagram, AddressesAsTheSocketTableShowsThem) {
  const struct {
    const char* value;
    bool ok;
    const char* address;
    unsigned port;
  } cases[] = {
      {"69", true, "::", 69},
      {"0.0.0.0:69", true, "0.0.0.0", 69},
      {"[::]:69", true, "::", 69},
      {"[2001:0db8:0::1]:1069", true, "2001:db8::1", 1069},
      {"192.0.2.7:69 ", true, "192.0.2.7", 69},
      {"/run/tftp.sock", false, "", 0},
      {"0.0.0.0:0", false, "", 0},
      {"0.0.0.0:65536", false, "", 0},
      {"eth0:69", false, "", 0},
      {"[192.0.2.7]:69", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    LaunchdListener listener;
    ASSERT_EQ(ParseListenDatagram(c.value, &listener), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(listener.address, c.address);
    EXPECT_EQ(listener.port, c.port);
  }
}

// A folder pair as launchctl leaves it after "load" of one job and "load -w" of another, beside
// units it did not make, a link, a folder and a marker without a label.
TEST(ReadLaunchdJobs, TheMarkedUnitsOfBothFoldersGroupedByJob) {
  test_support::ScratchFolder scratch("launchd-jobs");
  const std::string run = scratch.File("run"), etc = scratch.File("etc");
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(etc + "/sockets.target.wants");
  const struct {
    std::string path, text;
  } files[] = {
      {run + "/org.qrb.tftp.service",
       Marked("org.qrb.tftp", "/etc/qrb-tftp-controller/tftp.plist",
              "[Service]\nExecStart=/usr/sbin/in.tftpd -s /srv/tftp\nStandardInput=socket\n")},
      {run + "/org.qrb.tftp.socket",
       Marked("org.qrb.tftp", "/etc/qrb-tftp-controller/tftp.plist",
              "[Socket]\nListenDatagram=69\nBindIPv6Only=both\nAccept=no\n")},
      {etc + "/lab.boot.socket",
       Marked("lab.boot", "/home/lab/boot.plist",
              "[Socket]\nListenDatagram=192.0.2.7:69\nListenDatagram=[::]:1069\n"
              "ListenStream=8080\n")},
      {etc + "/lab.boot@.service", Marked("lab.boot", "/home/lab/boot.plist", "[Service]\n")},
      // Not ours: no marker, or a marker that names no label, or the marker further down.
      {etc + "/tftpd-hpa.service", "[Service]\nExecStart=/usr/sbin/in.tftpd\n"},
      {etc + "/other.socket",
       "[Socket]\n" + std::string(kLaunchdUnitMarker) + "\n# Label=\"x\"\nListenDatagram=69\n"},
      {etc + "/nolabel.socket",
       std::string(kLaunchdUnitMarker) + "\n# Definition=\"/a\"\nListenDatagram=69\n"},
      // A label line after the marker has ended is no label.
      {etc + "/late.socket",
       std::string(kLaunchdUnitMarker) + "\n\n# Label=\"late\"\nListenDatagram=69\n"},
      {etc + "/notes.txt", Marked("notes", "/n", "ListenDatagram=69\n")},
  };
  for (const auto& f : files) std::ofstream(f.path) << f.text;
  std::filesystem::create_symlink(run + "/org.qrb.tftp.socket", etc + "/link.socket");
  std::filesystem::create_symlink(etc + "/lab.boot.socket",
                                  etc + "/sockets.target.wants/lab.boot.socket");
  std::filesystem::create_directories(etc + "/dir.service");

  const std::vector<LaunchdJob> jobs = ReadLaunchdJobs({run, etc, scratch.File("missing")});
  const std::vector<LaunchdJob> expected = {
      {"lab.boot",
       "/home/lab/boot.plist",
       {"lab.boot.socket", "lab.boot@.service"},
       {{"192.0.2.7", 69}, {"::", 1069}}},
      {"org.qrb.tftp",
       "/etc/qrb-tftp-controller/tftp.plist",
       {"org.qrb.tftp.service", "org.qrb.tftp.socket"},
       {{"::", 69}}},
  };
  EXPECT_EQ(jobs, expected);
  EXPECT_EQ(JobsOnPort(jobs, 69).size(), 2u);
  ASSERT_EQ(JobsOnPort(jobs, 1069).size(), 1u);
  EXPECT_EQ(JobsOnPort(jobs, 1069)[0].label, "lab.boot");
  EXPECT_TRUE(JobsOnPort(jobs, 8080).empty());  // a stream socket is no TFTP server's

  EXPECT_TRUE(JobOwnsUnit(jobs[1], "org.qrb.tftp.service"));
  EXPECT_TRUE(JobOwnsUnit(jobs[0], "lab.boot@3-192.0.2.7:69-192.0.2.9:4000.service"));
  EXPECT_FALSE(JobOwnsUnit(jobs[0], "lab.bootstrap.service"));
  EXPECT_FALSE(JobOwnsUnit(jobs[1], "org.qrb.tftp2.service"));
  EXPECT_FALSE(JobOwnsUnit(jobs[1], ""));
}

// Read again when a unit is linked in or removed, not otherwise.
TEST(CachedLaunchdJobs, ReadAgainWhenAFolderChanges) {
  test_support::ScratchFolder scratch("launchd-cache");
  const std::string run = scratch.File("run");
  std::filesystem::create_directories(run);
  const std::vector<std::string> folders = {run, scratch.File("etc")};
  EXPECT_TRUE(CachedLaunchdJobs(folders).empty());
  std::ofstream(run + "/a.socket") << Marked("a", "/a.plist", "ListenDatagram=69\n");
  ASSERT_EQ(CachedLaunchdJobs(folders).size(), 1u);
  // A unit's text changed in place (which launchctl never does) is not seen while the folder's
  // time stands, once that time lies in the past.
  struct timespec old_times[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, run.c_str(), old_times, 0), 0);
  EXPECT_EQ(CachedLaunchdJobs(folders).size(), 1u);
  std::ofstream(run + "/a.socket") << "no marker\n";
  ASSERT_EQ(utimensat(AT_FDCWD, run.c_str(), old_times, 0), 0);
  EXPECT_EQ(CachedLaunchdJobs(folders).size(), 1u);
  // Removed: the folder changed.
  ASSERT_EQ(unlink((run + "/a.socket").c_str()), 0);
  EXPECT_TRUE(CachedLaunchdJobs(folders).empty());
  // Another pair of folders is read afresh.
  EXPECT_TRUE(CachedLaunchdJobs({scratch.File("etc")}).empty());
}

}  // namespace
}  // namespace tftpc
