#include "platform/apps/alert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

std::vector<std::string> shown;

int Recording(const std::string& title, const std::string& message) {
  shown.push_back(title + " / " + message);
  return NSAlertOtherReturn;
}

// One program, one presenter at a time: the steps below run in order.
TEST(Alert, GoesToThePresenterInstalledElseToStandardError) {
  // This program links the application services only: nothing installed a panel before main.
  EXPECT_EQ(SetAlertPresenter(nullptr), nullptr);

  struct Step {
    AlertPresenter install;
    AlertPresenter replaced;  // what SetAlertPresenter returns
    int result;               // what the alert returns
    std::string err;          // on standard error
    std::vector<std::string> shown;
  } steps[] = {
      {nullptr, nullptr, NSAlertDefaultReturn, "Title: <b>message</b>\n", {}},
      {&Recording, nullptr, NSAlertOtherReturn, "", {"Title / <b>message</b>"}},
      {&Recording, &Recording, NSAlertOtherReturn, "", {"Title / <b>message</b>"}},
      {nullptr, &Recording, NSAlertDefaultReturn, "Title: <b>message</b>\n", {}},
  };
  for (const Step& step : steps) {
    shown.clear();
    EXPECT_EQ(SetAlertPresenter(step.install), step.replaced);
    testing::internal::CaptureStderr();
    int result = RunCriticalAlertPanel("Title", "<b>message</b>");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), step.err);
    EXPECT_EQ(result, step.result);
    EXPECT_EQ(shown, step.shown);
  }
}

}  // namespace
}  // namespace platform
