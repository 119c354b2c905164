#include "utility/widgets/qrb_table_view.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QStandardItemModel>
#include <QTest>
#include <typeinfo>

#include "platform/widgets/check_box_cell.h"
#include "platform/widgets/popup_cell.h"
#include "platform/widgets/table_view.h"
#include "tests/desktop/offscreen_application.h"

namespace {

using platform::CheckBoxCell;
using platform::PopupCell;

// A check-box cell of a class of its own: centring leaves it as it is.
class SwitchCell : public CheckBoxCell {};

// A shown table of three rows with the columns "enabled" (check box), "switch" (a subclass of
// the check box), "name" (text) and "mode" (pop-up).
class InterfaceTable {
 public:
  InterfaceTable() : model_(3, 4) {
    for (int row = 0; row < 3; ++row) {
      for (int column : {0, 1}) {
        auto* item = new QStandardItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setData(Qt::Unchecked, Qt::CheckStateRole);
        model_.setItem(row, column, item);
      }
      model_.setItem(row, 2, new QStandardItem(QString("eth%1").arg(row)));
      model_.setItem(row, 3, new QStandardItem("octet"));
    }
    view_.setModel(&model_);
    view_.setShowGrid(false);
    view_.addTableColumn("enabled").setDataCell(new CheckBoxCell);
    view_.addTableColumn("switch").setDataCell(new SwitchCell);
    view_.addTableColumn("name");
    view_.addTableColumn("mode").setDataCell(new PopupCell);
    for (int column = 0; column < 4; ++column) view_.setColumnWidth(column, 120);
    view_.resize(520, 200);
    view_.show();
    QApplication::processEvents();
    view_.setCurrentIndex(QModelIndex());  // no focus frame over the cells looked at
  }

  platform::TableView& view() { return view_; }
  QStandardItemModel& model() { return model_; }
  template <typename Cell>
  Cell* cell(const char* identifier) {
    return dynamic_cast<Cell*>(view_.tableColumnWithIdentifier(identifier)->dataCell());
  }
  // Where the ink of a row's cell lies, in the cell's own coordinates.
  QRect inkOf(int row, int column) {
    const QImage image = view_.viewport()->grab().toImage();
    const QRect cell = view_.visualRect(model_.index(row, column)).adjusted(1, 1, -1, -1);
    return desktop_testing::InkWithin(image, cell).translated(-cell.topLeft());
  }

 private:
  QApplication& app_ = desktop_testing::OffscreenApplication();
  QStandardItemModel model_;
  platform::TableView view_;
};

TEST(QRBTableView, FillPopupButtonCellIgnoresColumnsThatCannotTakeTitles) {
  InterfaceTable table;
  for (const char* identifier : {"nowhere", "", "name", "enabled", "switch"}) {
    QRBTableView::fillPopupButtonCell(table.view(), identifier, {"octet"});
  }
  EXPECT_TRUE(table.cell<PopupCell>("mode")->itemTitles().isEmpty());
}

TEST(QRBTableView, FillingTwiceListsEachTitleTwiceAndTheEditorWritesTheChoice) {
  InterfaceTable table;
  QRBTableView::fillPopupButtonCell(table.view(), "mode", {"octet", "mail"});
  QRBTableView::fillPopupButtonCell(table.view(), "mode", {"octet", "mail"});
  EXPECT_EQ(table.cell<PopupCell>("mode")->itemTitles(),
            (QStringList{"octet", "mail", "octet", "mail"}));
  const QModelIndex index = table.model().index(1, 3);
  table.view().setCurrentIndex(index);
  table.view().edit(index);
  auto* editor = table.view().viewport()->findChild<QComboBox*>();
  ASSERT_NE(editor, nullptr);
  ASSERT_EQ(editor->count(), 4);
  EXPECT_EQ(editor->itemText(3), "mail");
  QTest::keyClick(editor, Qt::Key_End);  // the last item
  EXPECT_EQ(index.data().toString(), "mail");
  EXPECT_EQ(table.model().index(0, 3).data().toString(), "octet");
}

TEST(QRBTableView, CentresExactlyTheCheckBoxCellsAndDrawsThemInTheMiddle) {
  InterfaceTable table;
  table.model().setData(table.model().index(0, 0), Qt::Checked, Qt::CheckStateRole);
  const QRect before = table.inkOf(0, 0);
  const QRect beforeSwitch = table.inkOf(0, 1);
  const QRect beforeName = table.inkOf(0, 2);
  ASSERT_FALSE(before.isNull());
  EXPECT_LT(before.center().x(), 30);  // beside where its title would be
  QRBTableView::centerCheckboxCells(table.view());
  EXPECT_EQ(table.cell<CheckBoxCell>("enabled")->imagePosition(), platform::NSImageOnly);
  EXPECT_EQ(table.cell<SwitchCell>("switch")->imagePosition(), platform::NSImageLeft);
  for (int row : {0, 1}) {  // checked and not
    SCOPED_TRACE(row);
    const QRect after = table.inkOf(row, 0);
    const QRect cell = table.view().visualRect(table.model().index(row, 0)).adjusted(1, 1, -1, -1);
    ASSERT_FALSE(after.isNull());
    EXPECT_NEAR(after.center().x(), cell.width() / 2, 2);
    EXPECT_NEAR(after.center().y(), cell.height() / 2, 2);
    EXPECT_EQ(after.size(), before.size());
  }
  EXPECT_EQ(table.inkOf(0, 1), beforeSwitch);
  EXPECT_EQ(table.inkOf(0, 2), beforeName);
}

TEST(QRBTableView, AClickOnACentredBoxTogglesIt) {
  InterfaceTable table;
  QRBTableView::centerCheckboxCells(table.view());
  const QModelIndex index = table.model().index(2, 0);
  const QRect cell = table.view().visualRect(index);
  QTest::mouseClick(table.view().viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(cell.left() + 8, cell.center().y()));  // where it stood before
  EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  QTest::mouseClick(table.view().viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), Qt::Checked);
  QTest::mouseClick(table.view().viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
}

}  // namespace
