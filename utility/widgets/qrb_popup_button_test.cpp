#include "utility/widgets/qrb_popup_button.h"

#include <gtest/gtest.h>

#include <QComboBox>

#include "tests/desktop/offscreen_application.h"

namespace {

QStringList ItemsOf(const QComboBox& button) {
  QStringList items;
  for (int i = 0; i < button.count(); ++i) items.append(button.itemText(i));
  return items;
}

TEST(QRBPopupButton, ReplaceItemsWithTitles) {
  desktop_testing::OffscreenApplication();
  struct Case {
    const char* name;
    QStringList before;
    int currentBefore;
    QStringList titles;
    QString current;  // the current item's title afterwards; empty for none
  };
  const Case cases[] = {
      {"refill", {"eth0", "eth1", "wlan0"}, 2, {"br0", "eth0"}, "br0"},
      {"into an empty button", {}, -1, {"eth0"}, "eth0"},
      {"with nothing", {"eth0", "eth1"}, 1, {}, ""},
      {"nothing into nothing", {}, -1, {}, ""},
      {"the same titles twice", {"a"}, 0, {"b", "b", ""}, "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QComboBox button;
    button.addItems(c.before);
    button.setCurrentIndex(c.currentBefore);
    QRBPopupButton::replaceItemsWithTitles(button, c.titles);
    EXPECT_EQ(ItemsOf(button), c.titles);
    EXPECT_EQ(button.currentText(), c.current);
    EXPECT_EQ(button.currentIndex(), c.titles.isEmpty() ? -1 : 0);
  }
}

}  // namespace
