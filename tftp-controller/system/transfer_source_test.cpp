#include "tftp-controller/system/transfer_source.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/scratch_folder.h"

namespace tftpc {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One scenario per place the lines may come from; each names what it chose or why nothing.
TEST(TransferSource, ChoosesTheJournalTheFileOrSaysHowToGetOne) {
  test_support::ScratchFolder scratch("transfer-source");
  const std::string no_systemd = scratch.File("no-systemd");
  const std::string syslog = scratch.File("syslog"), daemon_log = scratch.File("daemon.log");

  // Neither systemd nor a file: what to install.
  SourceChoice none = OpenTransferSource({no_systemd, {syslog, daemon_log}});
  EXPECT_EQ(none.source, nullptr);
  EXPECT_TRUE(Has(none.why_none, "sudo apt install rsyslog")) << none.why_none;
  EXPECT_TRUE(Has(none.why_none, syslog + ", " + daemon_log)) << none.why_none;

  // The first file that can be read.
  std::ofstream(daemon_log) << "";
  SourceChoice file = OpenTransferSource({no_systemd, {syslog, daemon_log}});
  ASSERT_NE(file.source, nullptr) << file.why_none;
  EXPECT_EQ(file.source->Describe(), daemon_log);

  // Where systemd runs, the journal; on a machine where this user can read none of the
  // system's journal, the group to join, by name and with the command.
  ASSERT_EQ(mkdir(scratch.File("systemd").c_str(), 0755), 0);
  SourceChoice journal = OpenTransferSource({scratch.File("systemd"), {syslog}});
  if (journal.source) {
    EXPECT_EQ(journal.source->Describe(), "the systemd journal");
    EXPECT_GE(journal.source->fd(), 0);
  } else {
    EXPECT_TRUE(Has(journal.why_none, "systemd-journal: sudo adduser ")) << journal.why_none;
    EXPECT_TRUE(Has(journal.why_none, "then log in again")) << journal.why_none;
  }
}

TEST(TransferSource, NamesTheGroupThatMayReadALockedFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: a file of another group, read as nobody";
  const group* adm = getgrnam("adm");
  if (adm == nullptr) GTEST_SKIP() << "no group adm here";
  const gid_t adm_gid = adm->gr_gid;
  test_support::ScratchFolder scratch("transfer-source");
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  const std::string syslog = scratch.File("syslog");
  std::ofstream(syslog) << "";
  ASSERT_EQ(chown(syslog.c_str(), 0, adm_gid), 0);
  ASSERT_EQ(chmod(syslog.c_str(), 0640), 0);
  int report[2];
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t nogroup = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nogroup, nogroup, nogroup) != 0 ||
        setresuid(65534, 65534, 65534) != 0)
      _exit(2);
    const SourceChoice choice = OpenTransferSource({scratch.File("no-systemd"), {syslog}});
    const std::string text = choice.source ? "a source" : choice.why_none;
    _exit(write(report[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 3);
  }
  close(report[1]);
  std::string why;
  char buffer[1024];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) why.append(buffer, n);
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(Has(why, syslog + ", which only the group adm may read")) << why;
  EXPECT_TRUE(Has(why, "sudo adduser nobody adm, then log in again")) << why;
}

}  // namespace
}  // namespace tftpc
