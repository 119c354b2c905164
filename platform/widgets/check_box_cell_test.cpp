#include "platform/widgets/check_box_cell.h"

#include <gtest/gtest.h>

#include <QStandardItemModel>
#include <QTest>

#include "platform/widgets/table_view.h"
#include "tests/desktop/offscreen_application.h"

namespace platform {
namespace {

// A shown table of two rows: a wide check-box column ("on") and a text column.
class CheckBoxTable {
 public:
  explicit CheckBoxTable(NSCellImagePosition position,
                         Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsUserCheckable)
      : model_(2, 2) {
    for (int row = 0; row < 2; ++row) {
      auto* item = new QStandardItem;
      item->setFlags(flags);
      item->setData(Qt::Unchecked, Qt::CheckStateRole);
      model_.setItem(row, 0, item);
      model_.setItem(row, 1, new QStandardItem("text"));
    }
    view_.setModel(&model_);
    view_.setShowGrid(false);
    cell_ = new CheckBoxCell;
    cell_->setTitle("Enabled");
    cell_->setImagePosition(position);
    view_.addTableColumn("on").setDataCell(cell_);
    view_.addTableColumn("name");
    view_.setColumnWidth(0, 240);
    view_.resize(400, 200);
    view_.show();
    QApplication::processEvents();
  }

  TableView& view() { return view_; }
  CheckBoxCell& cell() { return *cell_; }
  QModelIndex index(int row) const { return model_.index(row, 0); }
  Qt::CheckState state(int row) const {
    return static_cast<Qt::CheckState>(index(row).data(Qt::CheckStateRole).toInt());
  }
  CheckBoxCell::Layout layout(int row) {
    QStyleOptionViewItem option;
    option.initFrom(view_.viewport());
    option.rect = view_.visualRect(index(row));
    option.widget = &view_;
    return cell_->layoutFor(option);
  }
  void click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(view_.viewport(), button, Qt::NoModifier, at);
  }

 private:
  QApplication& app_ = desktop_testing::OffscreenApplication();
  QStandardItemModel model_;
  TableView view_;
  CheckBoxCell* cell_ = nullptr;
};

TEST(CheckBoxCell, ALeftClickOnTheBoxOrItsTitleTogglesTheModelsCheckState) {
  for (NSCellImagePosition position : {NSImageLeft, NSImageRight, NSImageOnly}) {
    SCOPED_TRACE(position);
    CheckBoxTable table(position);
    const CheckBoxCell::Layout layout = table.layout(0);
    table.click(layout.box.center());
    EXPECT_EQ(table.state(0), Qt::Checked);
    table.click(layout.box.center());
    EXPECT_EQ(table.state(0), Qt::Unchecked);
    table.click(layout.box.center(), Qt::RightButton);
    EXPECT_EQ(table.state(0), Qt::Unchecked);
    if (!layout.title.isNull()) {
      table.click(layout.title.center());
      EXPECT_EQ(table.state(0), Qt::Checked);
    }
    table.view().model()->setData(table.index(1), Qt::PartiallyChecked, Qt::CheckStateRole);
    table.click(table.layout(1).box.center());
    EXPECT_EQ(table.state(1), Qt::Checked);
  }
}

// A click toggles the box only when both its press and its release land on it: a press taken
// away, or one that began elsewhere, changes nothing.
TEST(CheckBoxCell, APressOrAReleaseOutsideTheBoxChangesNothing) {
  CheckBoxTable table(NSImageOnly);
  const QPoint box = table.layout(0).box.center();
  const QPoint beside = table.view().visualRect(table.index(0)).topLeft() + QPoint(2, 2);
  const QPoint other_cell = box + QPoint(table.view().columnWidth(0), 0);
  const std::pair<QPoint, QPoint> clicks[] = {
      {box, beside}, {box, other_cell}, {beside, box}, {other_cell, box}};
  for (const auto& [press, release] : clicks) {
    QTest::mousePress(table.view().viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseRelease(table.view().viewport(), Qt::LeftButton, Qt::NoModifier, release);
    EXPECT_EQ(table.state(0), Qt::Unchecked)
        << "pressed at " << press.x() << "," << press.y() << ", released at " << release.x() << ","
        << release.y();
  }
}

TEST(CheckBoxCell, TheSpaceBarTogglesTheCurrentCell) {
  CheckBoxTable table(NSImageOnly);
  table.view().setCurrentIndex(table.index(1));
  QTest::keyClick(&table.view(), Qt::Key_Space);
  EXPECT_EQ(table.state(1), Qt::Checked);
  EXPECT_EQ(table.state(0), Qt::Unchecked);
  QTest::keyClick(&table.view(), Qt::Key_Space);
  EXPECT_EQ(table.state(1), Qt::Unchecked);
}

TEST(CheckBoxCell, AnItemThatIsDisabledOrNotCheckableDoesNotToggle) {
  for (Qt::ItemFlags flags :
       {Qt::ItemFlags(Qt::ItemIsUserCheckable), Qt::ItemFlags(Qt::ItemIsEnabled)}) {
    CheckBoxTable table(NSImageOnly, flags);
    table.click(table.layout(0).box.center());
    table.view().setCurrentIndex(table.index(0));
    QTest::keyClick(&table.view(), Qt::Key_Space);
    EXPECT_EQ(table.state(0), Qt::Unchecked);
  }
}

}  // namespace
}  // namespace platform
