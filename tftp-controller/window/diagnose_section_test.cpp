#include "tftp-controller/window/diagnose_section.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include "tests/desktop/offscreen_application.h"

namespace tftpc {
namespace {

TEST(DiagnoseSectionTest, FindingsShowVerdictExplanationAndFixProblemsOpen) {
  desktop_testing::OffscreenApplication();
  DiagnoseSection section;
  section.resize(420, 400);
  section.show();
  QSignalSpy pressed(&section, &DiagnoseSection::diagnoseClicked);
  section.button()->click();
  EXPECT_EQ(pressed.count(), 1);
  EXPECT_EQ(section.button()->accessibleName(), "Diagnose");
  section.SetRunning(true);
  EXPECT_FALSE(section.button()->isEnabled());

  const std::string firewall_fix =
      "Open UDP port 69 in the firewall that runs here: sudo nft add rule inet filter input udp "
      "dport 69 accept, then press Diagnose again to see the device's address answer.";
  section.ShowFindings({
      {"The service listens", Verdict::kOk, "xinetd holds UDP port 69 on every address.", ""},
      {"Fetch over 192.0.2.1", Verdict::kProblem, "Nothing answered within 2 s.", firewall_fix},
      {"Interface eth0", Verdict::kNote, "eth0 has no carrier.", "Plug the cable in."},
  });
  EXPECT_TRUE(section.button()->isEnabled());
  QTreeWidget* list = section.findingsList();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  const struct {
    const char* check;
    const char* verdict;
    int lines;
    bool open;
  } expected[] = {{"The service listens", "OK", 1, false},
                  {"Fetch over 192.0.2.1", "Problem", 2, true},
                  {"Interface eth0", "Note", 2, true}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    QTreeWidgetItem* item = list->topLevelItem(i);
    EXPECT_EQ(item->text(0), expected[i].check);
    EXPECT_EQ(item->text(1), expected[i].verdict);
    EXPECT_EQ(item->childCount(), expected[i].lines);
    EXPECT_EQ(item->isExpanded(), expected[i].open);
  }
  // The fix is drawn in lines the list's width holds, and read whole by a screen reader.
  QTreeWidgetItem* fix = list->topLevelItem(1)->child(1);
  EXPECT_EQ(fix->data(0, Qt::AccessibleTextRole).toString().toStdString(), "Fix: " + firewall_fix);
  EXPECT_GT(fix->text(0).count('\n'), 0);
  EXPECT_EQ(fix->text(0).simplified(), fix->data(0, Qt::AccessibleTextRole).toString());
}

TEST(DiagnoseSectionTest, WrappedLinesFitTheirWidthAndKeepEveryWord) {
  desktop_testing::OffscreenApplication();
  const QFontMetrics metrics(QApplication::font());
  const QString text = "the quick brown fox jumps over the lazy dog again and again";
  for (int width : {60, 120, 200, 10000}) {
    SCOPED_TRACE(width);
    const QString wrapped = WrapText(text, metrics, width);
    EXPECT_EQ(QString(wrapped).replace('\n', ' '), text);
    for (const QString& line : wrapped.split('\n')) {
      // A line is over the width only when it is one word.
      EXPECT_TRUE(metrics.horizontalAdvance(line) <= width || !line.contains(' '))
          << line.toStdString();
    }
  }
  EXPECT_EQ(WrapText("unbreakable", metrics, 5), "unbreakable");
  EXPECT_EQ(WrapText("", metrics, 100), "");
}

}  // namespace
}  // namespace tftpc
