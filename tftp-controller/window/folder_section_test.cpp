#include "tftp-controller/window/folder_section.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/desktop/offscreen_application.h"

namespace tftpc {
namespace {

TEST(FolderSectionTest, CommandLineQuotesWhatAShellWouldSplit) {
  const struct {
    std::vector<std::string> argv;
    const char* line;
  } cases[] = {
      {{"chmod", "o+x", "/home/ann"}, "chmod o+x /home/ann"},
      {{"chmod", "o+rx", "/srv/my files"}, "chmod o+rx '/srv/my files'"},
      {{"chmod", "o+r", "/srv/ann's"}, "chmod o+r '/srv/ann'\\''s'"},
      {{"echo", "", "$HOME", "a;b"}, "echo '' '$HOME' 'a;b'"},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandLine(c.argv), c.line);
}

TEST(FolderSectionTest, ShowsTheProblemAndTheRightKindOfFix) {
  desktop_testing::OffscreenApplication();
  FolderSection section;
  section.SetFolder("/home/ann/boot");
  QSignalSpy changed(&section, &FolderSection::folderChanged);

  // The user's own folder: one click fixes it; no command to copy.
  FolderCheck own;
  own.problems = {{"/home/ann", "/home/ann is 0700 and owned by ann: nobody cannot enter it"}};
  own.fixable_by_user = true;
  own.fix_command = {"chmod", "o+x", "/home/ann"};
  section.ShowCheck(own);
  EXPECT_FALSE(section.fixButton()->isHidden());
  const QList<QLineEdit*> fields = section.findChildren<QLineEdit*>();
  ASSERT_EQ(fields.size(), 2);
  QLineEdit* command_field = fields[0] == section.field() ? fields[1] : fields[0];
  EXPECT_TRUE(command_field->isHidden());
  EXPECT_EQ(FolderCheckText("/home/ann/boot", false, own),
            "/home/ann is 0700 and owned by ann: nobody cannot enter it");

  // Someone else's: the command to run, no button.
  FolderCheck other = own;
  other.fixable_by_user = false;
  other.fix_command = {"chmod", "o+rx", "/srv/a b"};
  section.ShowCheck(other);
  EXPECT_TRUE(section.fixButton()->isHidden());
  EXPECT_FALSE(command_field->isHidden());
  EXPECT_EQ(command_field->text(), "chmod o+rx '/srv/a b'");

  // Fine: neither.
  section.ShowCheck(FolderCheck{});
  EXPECT_TRUE(section.fixButton()->isHidden());
  EXPECT_TRUE(command_field->isHidden());
  EXPECT_EQ(FolderCheckText("/srv/tftp", true, FolderCheck{}),
            "The server can read and write /srv/tftp.");

  // Typing announces a change once, when the field is left with another text.
  section.field()->setText("/srv/boot");
  emit section.field()->editingFinished();
  emit section.field()->editingFinished();
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(section.Folder(), "/srv/boot");
  // Text set without the keyboard (a screen reader's call) is announced once it rests.
  section.field()->setText("/srv/boot2");
  EXPECT_EQ(changed.count(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() == 2; }, 3000));
  QTest::qWait(700);
  EXPECT_EQ(changed.count(), 2);
  // The program setting it is no change of the user's.
  section.SetFolder("/srv/tftp");
  QTest::qWait(700);
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(section.field()->accessibleName(), "Served folder");
  EXPECT_EQ(section.chooseButton()->accessibleName(), "Choose folder");
}

}  // namespace
}  // namespace tftpc
