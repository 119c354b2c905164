#include "utility/widgets/qrb_application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <optional>

#include "platform/bundle/bundle.h"
#include "tests/desktop/desktop_testing.h"
#include "tests/desktop/offscreen_application.h"
#include "tests/test_support.h"

namespace {

using desktop_testing::InfoPlist;
using test_support::TempDir;
using test_support::WriteFile;

TEST(AllDocumentTypes, ListsExtensionsThenOsTypesOfEachEntryInOrder) {
  struct Case {
    const char* name;
    std::optional<std::string> entries;  // the marked-up array, or no entry at all
    std::vector<std::string> types;
  } cases[] = {
      {"several",
       "<array>"
       "<dict><key>CFBundleTypeExtensions</key><array><string>txt</string><string>text</string>"
       "</array><key>CFBundleTypeOSTypes</key><array><string>TEXT</string></array></dict>"
       "<dict><key>CFBundleTypeOSTypes</key><array><string>PLST</string></array>"
       "<key>CFBundleTypeExtensions</key><array><string>plist</string></array></dict>"
       "<dict><key>CFBundleTypeName</key><string>No lists</string></dict>"
       "<dict><key>CFBundleTypeExtensions</key><array><string>conf</string></array></dict>"
       "</array>",
       {"txt", "text", "TEXT", "plist", "PLST", "conf"}},
      {"empty", "<array/>", {}},
      {"none", std::nullopt, {}},
      {"not an array", "<string>txt</string>", {}},
      {"odd members",
       "<array><string>txt</string><dict><key>CFBundleTypeExtensions</key>"
       "<array><integer>1</integer><string>md</string></array>"
       "<key>CFBundleTypeOSTypes</key><string>TEXT</string></dict></array>",
       {"md"}},
  };
  std::string before = platform::MainBundle()->bundlePath();
  for (const Case& c : cases) {
    TempDir folder;
    ASSERT_TRUE(WriteFile(
        folder.File("Info.plist"),
        InfoPlist(c.entries ? "<key>CFBundleDocumentTypes</key>" + *c.entries : std::string())));
    platform::SetMainBundlePath(folder.path());
    EXPECT_EQ(QRBApplication::allDocumentTypes(), c.types) << c.name;
  }
  platform::SetMainBundlePath(before);
}

// A document window that refuses to close while it has unsaved changes, counting the asks.
class Document : public QWidget {
 public:
  int asked = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (isWindowModified()) {
      ++asked;
      event->ignore();
    } else {
      event->accept();
    }
  }
};

// The test program's one application, quitting after each test as the host would.
class HostQuitting : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_testing::OffscreenApplication().setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    desktop_testing::OffscreenApplication().setQuitOnLastWindowClosed(true);
  }

  // Runs the application's event loop with `quit` called from it: true when the application
  // quit by itself within three seconds. *elapsed gets the time it ran.
  static bool RunsToItsEnd(const std::function<void()>& quit, qint64* elapsed) {
    bool timed_out = false;
    QTimer::singleShot(0, quit);
    QTimer limit;  // stopped with the test, whatever ended the loop
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
      timed_out = true;
      QCoreApplication::exit(0);  // quit() would ask the windows
    });
    limit.start(3000);
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::exec();
    *elapsed = clock.elapsed();
    return !timed_out;
  }
};

TEST_F(HostQuitting, SafeQuitAsksEachWindowWhichMayRefuse) {
  Document saved, unsaved;
  saved.setWindowTitle("Saved[*]");
  unsaved.setWindowTitle("Unsaved[*]");
  unsaved.setWindowModified(true);
  saved.show();
  unsaved.show();
  qint64 elapsed = 0;
  EXPECT_FALSE(RunsToItsEnd([] { QRBApplication::safeQuit(nullptr); }, &elapsed));
  EXPECT_EQ(unsaved.asked, 1);
  EXPECT_TRUE(unsaved.isVisible());
}

TEST_F(HostQuitting, SafeQuitQuitsOnceEveryWindowHasClosedAfterASecond) {
  Document first, second;
  first.show();
  second.show();
  qint64 elapsed = 0;
  EXPECT_TRUE(RunsToItsEnd([] { QRBApplication::safeQuit(nullptr); }, &elapsed));
  EXPECT_GE(elapsed, 1000);
  EXPECT_FALSE(first.isVisible());
  EXPECT_FALSE(second.isVisible());
}

// A document that, as it closes, opens another window (a document it had kept for later).
class Opener : public Document {
 public:
  explicit Opener(QWidget* opens) : opens_(opens) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    opens_->show();
    Document::closeEvent(event);
  }

 private:
  QWidget* opens_;
};

TEST_F(HostQuitting, SafeQuitDoesNotQuitWhenClosingADocumentOpensAnother) {
  Document opened;
  Opener opener(&opened);
  opener.show();
  qint64 elapsed = 0;
  EXPECT_FALSE(RunsToItsEnd([] { QRBApplication::safeQuit(nullptr); }, &elapsed));
  EXPECT_FALSE(opener.isVisible());
  EXPECT_TRUE(opened.isVisible());
}

TEST_F(HostQuitting, ForceQuitClearsUnsavedChangesAndQuitsWithoutAsking) {
  Document first, second;
  first.setWindowTitle("First[*]");
  second.setWindowTitle("Second[*]");
  first.setWindowModified(true);
  second.setWindowModified(true);
  first.show();
  second.show();
  qint64 elapsed = 0;
  EXPECT_TRUE(RunsToItsEnd([] { QRBApplication::forceQuit(nullptr); }, &elapsed));
  EXPECT_LT(elapsed, 1000);
  EXPECT_EQ(first.asked + second.asked, 0);
  EXPECT_FALSE(first.isWindowModified());
  EXPECT_FALSE(second.isWindowModified());
}

}  // namespace
