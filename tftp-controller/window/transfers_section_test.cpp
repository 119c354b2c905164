#include "tftp-controller/window/transfers_section.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include "tests/desktop/offscreen_application.h"

namespace tftpc {
namespace {

// A log whose new lines the test hands over; with a pipe, readable when there are some.
class FakeSource : public TransferSource {
 public:
  explicit FakeSource(bool with_fd) {
    if (with_fd && pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
  }
  ~FakeSource() override {
    for (int fd : pipe_) {
      if (fd >= 0) close(fd);
    }
  }
  int fd() const override { return pipe_[0]; }
  std::vector<LogLine> ReadNew() override {
    ++reads;
    char drain[64];
    while (pipe_[0] >= 0 && read(pipe_[0], drain, sizeof drain) > 0) {
    }
    return std::exchange(pending, {});
  }
  std::string Describe() const override { return "the test's log"; }
  void Arrive(std::vector<LogLine> lines) {
    pending = std::move(lines);
    if (pipe_[1] >= 0) {
      EXPECT_EQ(write(pipe_[1], "x", 1), 1);
    }
  }

  std::vector<LogLine> pending;
  int reads = 0;

 private:
  int pipe_[2] = {-1, -1};
};

constexpr std::int64_t kNoon = 1765195200000000;  // microseconds

QStringList Row(QTreeWidget* list, int row) {
  QStringList texts;
  QTreeWidgetItem* item = list->topLevelItem(row);
  for (int column = 1; column < list->columnCount(); ++column) texts << item->text(column);
  return texts;
}

TEST(TransfersSectionTest, LinesReachTheListWhenTheSourceSaysSoOrAtEachPoll) {
  desktop_testing::OffscreenApplication();
  for (bool with_fd : {true, false}) {
    SCOPED_TRACE(with_fd ? "waited on" : "polled");
    TransfersSection section;
    section.SetFolderSource([] { return std::string("/srv/tftp"); });
    auto owned = std::make_unique<FakeSource>(with_fd);
    FakeSource* source = owned.get();
    section.SetSource(SourceChoice{std::move(owned), ""});
    QTreeWidget* list = section.list();
    EXPECT_EQ(list->accessibleName(), "Transfers");

    source->Arrive({{kNoon, 9152, "RRQ from 192.0.2.7 filename boot.bin"},
                    {kNoon, 9154, "RRQ from 192.0.2.7 filename pxelinux.cfg/default"}});
    if (with_fd) {
      ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 2; }, 5000));
    } else {
      QTest::qWait(50);
      EXPECT_EQ(list->topLevelItemCount(), 0);  // nothing reads it but the poll
      section.Poll();
    }
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(Row(list, 1)[0], "192.0.2.7");
    EXPECT_EQ(Row(list, 1)[1], "pxelinux.cfg/default");
    EXPECT_EQ(Row(list, 1)[2], "read");

    // The refusal of a request comes later, from the same server: its row changes, none is added.
    source->Arrive({{kNoon + 1000, 9154, "sending NAK (1, File not found) to 192.0.2.7"}});
    if (with_fd) {
      ASSERT_TRUE(QTest::qWaitFor(
          [&] { return Row(list, 1)[3].contains("/srv/tftp/pxelinux.cfg/default"); }, 5000));
    } else {
      section.Poll();
    }
    EXPECT_EQ(list->topLevelItemCount(), 2);
    EXPECT_TRUE(Row(list, 1)[3].contains("/srv/tftp/pxelinux.cfg/default"))
        << Row(list, 1)[3].toStdString();
    EXPECT_NE(list->topLevelItem(1)->foreground(4), list->topLevelItem(0)->foreground(4));
  }
}

// The diagnosis's own fetches (a planted probe, a name that does not exist and its refusal)
// are not the user's transfers; a later request of the same server pid is.
TEST(TransfersSectionTest, TheDiagnosisFetchesAreLeftOut) {
  desktop_testing::OffscreenApplication();
  TransfersSection section;
  section.SetFolderSource([] { return std::string("/srv/tftp"); });
  section.AddLines({
      {kNoon, 700, "RRQ from 127.0.0.1 filename tftp-controller-probe-0a1b2c"},
      {kNoon, 701, "RRQ from 127.0.0.1 filename tftp-controller-no-such-file-0a1b2c"},
      {kNoon, 701, "sending NAK (1, File not found) to 127.0.0.1"},
      {kNoon, 702, "RRQ from 192.0.2.7 filename tftp-controller.bin"},
      {kNoon, 701, "RRQ from 192.0.2.7 filename boot.bin"},
      {kNoon, 701, "sending NAK (1, File not found) to 192.0.2.7"},
  });
  QTreeWidget* list = section.list();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(Row(list, 0)[1], "tftp-controller.bin");
  EXPECT_EQ(Row(list, 1)[1], "boot.bin");
  EXPECT_TRUE(Row(list, 1)[3].contains("/srv/tftp/boot.bin")) << Row(list, 1)[3].toStdString();
}

TEST(TransfersSectionTest, WithoutASourceTheReasonIsShown) {
  desktop_testing::OffscreenApplication();
  TransfersSection section;
  const std::string why = "You may not read /var/log/syslog: join the group adm.";
  section.SetSource(SourceChoice{nullptr, why});
  section.Poll();  // nothing to read, and no harm
  bool shown = false;
  for (QLabel* label : section.findChildren<QLabel*>())
    shown = shown || label->text() == why.c_str();
  EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace tftpc
