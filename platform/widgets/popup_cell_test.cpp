#include "platform/widgets/popup_cell.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QStandardItemModel>
#include <QTest>

#include "platform/widgets/table_view.h"
#include "tests/desktop/offscreen_application.h"

namespace platform {
namespace {

// A shown table whose only column is a pop-up cell, one row holding `value`.
class PopupTable {
 public:
  PopupTable(const QStringList& titles, const QString& value) : model_(1, 1) {
    model_.setItem(0, 0, new QStandardItem(value));
    view_.setModel(&model_);
    cell_ = new PopupCell;
    cell_->addItemsWithTitles(titles);
    view_.addTableColumn("kind").setDataCell(cell_);
    view_.resize(300, 120);
    view_.show();
    QApplication::processEvents();
  }
  // Opens the row's editor, as a double click does.
  QComboBox* edit() {
    view_.setCurrentIndex(model_.index(0, 0));
    view_.edit(model_.index(0, 0));
    QApplication::processEvents();
    return view_.viewport()->findChild<QComboBox*>();
  }
  QString value() const { return model_.index(0, 0).data().toString(); }

 private:
  QApplication& app_ = desktop_testing::OffscreenApplication();
  QStandardItemModel model_;
  TableView view_;
  PopupCell* cell_ = nullptr;
};

QStringList ItemsOf(const QComboBox& button) {
  QStringList items;
  for (int i = 0; i < button.count(); ++i) items.append(button.itemText(i));
  return items;
}

TEST(PopupCell, TheEditorOffersTheTitlesAndShowsTheRowsValue) {
  struct Case {
    const char* value;
    int current;
  };
  for (const Case& c : {Case{"netascii", 1}, Case{"octet", 0}, Case{"mail", -1}, Case{"", -1}}) {
    SCOPED_TRACE(c.value);
    PopupTable table({"octet", "netascii", "binary"}, c.value);
    QComboBox* editor = table.edit();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(ItemsOf(*editor), (QStringList{"octet", "netascii", "binary"}));
    EXPECT_EQ(editor->currentIndex(), c.current);
  }
}

TEST(PopupCell, ACellWithoutItemsLeavesTheValueAlone) {
  PopupTable table({}, "octet");
  QComboBox* editor = table.edit();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->count(), 0);
  QTest::keyClick(editor, Qt::Key_Return);
  QTest::keyClick(editor, Qt::Key_Down);
  EXPECT_EQ(table.value(), "octet");
}

}  // namespace
}  // namespace platform
