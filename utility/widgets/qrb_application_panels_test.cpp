#include "utility/widgets/qrb_application_panels.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "platform/widgets/panels.h"
#include "tests/desktop/offscreen_application.h"

namespace {

// A shown window with a button that counts its clicks.
class Window {
 public:
  Window() {
    button_ = new QPushButton("Apply", &widget_);
    button_->setGeometry(10, 10, 100, 30);
    QObject::connect(button_, &QPushButton::clicked, [this] { ++clicks_; });
    widget_.resize(300, 200);
    widget_.show();
    QApplication::processEvents();
  }
  QWidget& widget() { return widget_; }
  // Clicks the button through the window system, as a user does: a window blocked by a modal
  // panel never sees it.
  bool clickGetsThrough() {
    const int before = clicks_;
    QTest::mouseClick(widget_.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      button_->geometry().center());
    QApplication::processEvents();
    return clicks_ > before;
  }

 private:
  QApplication& app_ = desktop_testing::OffscreenApplication();
  QWidget widget_;
  QPushButton* button_ = nullptr;
  int clicks_ = 0;
};

// A panel whose button ends its modal loop with `code`.
class Panel : public QDialog {
 public:
  explicit Panel(int code, QWidget* parent = nullptr) : QDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    button = new QPushButton("Done", this);
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, this, [this, code] { done(code); });
  }
  QPushButton* button = nullptr;
};

// Runs `check` once the modal loop has started, then presses the panel's button.
void WhileRunning(Panel& panel, std::function<void()> check) {
  QTimer::singleShot(20, &panel, [&panel, check] {
    check();
    QTest::mouseClick(panel.button, Qt::LeftButton);
  });
}

TEST(QRBApplication, RunModalPanelOnAWindowRunsASheetThatBlocksOnlyThatWindow) {
  Window window;
  Window other;
  Panel panel(42);
  bool checked = false;
  WhileRunning(panel, [&] {
    checked = true;
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.parentWidget(), &window.widget());
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Sheet));
    EXPECT_EQ(panel.windowModality(), Qt::WindowModal);
    EXPECT_FALSE(window.clickGetsThrough());
    EXPECT_TRUE(other.clickGetsThrough());
  });
  EXPECT_EQ(QRBApplication::runModalPanel(&panel, &window.widget()), 42);
  EXPECT_TRUE(checked);
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(panel.parentWidget(), nullptr);
  EXPECT_EQ(panel.windowModality(), Qt::NonModal);
  EXPECT_TRUE(window.clickGetsThrough());
}

TEST(QRBApplication, RunModalPanelWithoutAWindowRunsAnApplicationModalWindow) {
  Window window;
  Panel panel(QDialog::Accepted);
  bool checked = false;
  WhileRunning(panel, [&] {
    checked = true;
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.isWindow());
    EXPECT_EQ(panel.parentWidget(), nullptr);
    EXPECT_FALSE(panel.windowFlags().testFlag(Qt::Sheet));
    EXPECT_EQ(panel.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), &panel);
    EXPECT_FALSE(window.clickGetsThrough());
  });
  EXPECT_EQ(QRBApplication::runModalPanel(&panel, nullptr), QDialog::Accepted);
  EXPECT_TRUE(checked);
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(panel.windowModality(), Qt::NonModal);
  EXPECT_TRUE(window.clickGetsThrough());
}

TEST(QRBApplication, ASheetGoesBackToItsOwnParentWhenItEnds) {
  auto owner = std::make_unique<Window>();
  auto host = std::make_unique<Window>();
  QPointer<Panel> panel = new Panel(7, &owner->widget());
  WhileRunning(*panel, [&] { EXPECT_EQ(panel->parentWidget(), &host->widget()); });
  EXPECT_EQ(QRBApplication::runModalPanel(panel, &host->widget()), 7);
  ASSERT_FALSE(panel.isNull());
  EXPECT_EQ(panel->parentWidget(), &owner->widget());
  EXPECT_TRUE(panel->isWindow());
  host.reset();  // the window the sheet was on takes nothing with it
  EXPECT_FALSE(panel.isNull());
  owner.reset();
  EXPECT_TRUE(panel.isNull());
}

// A loop can end while its panel still shows (the application quits, or the panel reports a
// code without hiding): closing the panel afterwards also takes back its modality.
TEST(QRBApplication, AFreeStandingPanelThatOutlivesItsLoopIsNonModalOnceClosed) {
  Window window;
  Panel panel(1);
  QTimer::singleShot(20, &panel, [&panel] { emit panel.finished(3); });
  EXPECT_EQ(QRBApplication::runModalPanel(&panel, nullptr), 3);
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(panel.windowModality(), Qt::NonModal);
  EXPECT_TRUE(window.clickGetsThrough());
}

TEST(QRBApplication, ALoopThatEndsWithoutACodeFromThePanelIsAborted) {
  struct Case {
    const char* name;
    std::function<void(Panel*)> end;
  };
  const Case cases[] = {
      {"hidden", [](Panel* panel) { panel->hide(); }},
      {"destroyed", [](Panel* panel) { delete panel; }},
  };
  Window window;
  for (const Case& c : cases) {
    for (QWidget* on : {&window.widget(), static_cast<QWidget*>(nullptr)}) {
      SCOPED_TRACE(c.name);
      QPointer<Panel> panel = new Panel(1);
      QTimer::singleShot(20, [&] { c.end(panel); });
      EXPECT_EQ(QRBApplication::runModalPanel(panel, on), platform::NSRunAbortedResponse);
      EXPECT_TRUE(window.clickGetsThrough());
      delete panel;
    }
  }
}

TEST(QRBApplication, NoPanelNoLoop) {
  Window window;
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  EXPECT_EQ(QRBApplication::runModalPanel(nullptr, &window.widget()),
            platform::NSRunAbortedResponse);
  EXPECT_EQ(QRBApplication::runModalPanel(nullptr, nullptr), platform::NSRunAbortedResponse);
  EXPECT_FALSE(ran);  // no events were handled: no loop ran
  QRBApplication::openModalPanel(nullptr, &window.widget());
  QRBApplication::closeModalPanel(nullptr, nullptr);
  QApplication::processEvents();
  EXPECT_TRUE(ran);
}

TEST(QRBApplication, ClosingAPanelThatIsNotShownDoesNoHarm) {
  Window window;
  QPointer<Panel> panel = new Panel(1, &window.widget());
  int finished = 0;
  QObject::connect(panel, &QDialog::finished, [&] { ++finished; });
  QRBApplication::closeModalPanel(panel, &window.widget());
  QRBApplication::closeModalPanel(panel, nullptr);
  QRBApplication::closeModalPanel(panel, &window.widget());
  ASSERT_FALSE(panel.isNull());
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(panel->parentWidget(), &window.widget());
  EXPECT_EQ(finished, 0);
  EXPECT_TRUE(window.clickGetsThrough());
}

TEST(QRBApplication, APanelCannotBeASheetOnAWindowInsideIt) {
  desktop_testing::OffscreenApplication();
  Panel panel(5);
  WhileRunning(panel, [&] { EXPECT_EQ(panel.windowModality(), Qt::ApplicationModal); });
  EXPECT_EQ(QRBApplication::runModalPanel(&panel, panel.button), 5);
  EXPECT_EQ(panel.parentWidget(), nullptr);
  EXPECT_FALSE(panel.isVisible());
}

}  // namespace
