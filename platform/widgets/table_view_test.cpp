#include "platform/widgets/table_view.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QStandardItemModel>
#include <typeinfo>

#include "platform/widgets/check_box_cell.h"
#include "platform/widgets/popup_cell.h"
#include "tests/desktop/offscreen_application.h"

namespace platform {
namespace {

TEST(TableView, ColumnsKeepTheirOrderAndAreFoundByIdentifier) {
  desktop_testing::OffscreenApplication();
  TableView table;
  EXPECT_TRUE(table.tableColumns().isEmpty());
  EXPECT_EQ(table.tableColumnWithIdentifier("name"), nullptr);
  TableColumn& name = table.addTableColumn("name");
  TableColumn& kind = table.addTableColumn("kind");
  TableColumn& again = table.addTableColumn("name");
  ASSERT_EQ(table.tableColumns(), (QList<TableColumn*>{&name, &kind, &again}));
  EXPECT_EQ(table.tableColumnWithIdentifier("name"), &name);  // the first of two
  EXPECT_EQ(table.tableColumnWithIdentifier("kind"), &kind);
  EXPECT_EQ(table.tableColumnWithIdentifier("Kind"), nullptr);
  EXPECT_EQ(table.tableColumnWithIdentifier(""), nullptr);
}

TEST(TableView, AColumnsDataCellDrawsThatModelColumn) {
  desktop_testing::OffscreenApplication();
  TableView table;
  TableColumn& first = table.addTableColumn("first");
  TableColumn& second = table.addTableColumn("second");
  ASSERT_NE(first.dataCell(), nullptr);
  EXPECT_EQ(typeid(*first.dataCell()), typeid(TextCell));
  EXPECT_EQ(table.itemDelegateForColumn(0), first.dataCell());

  QPointer<TableCell> former = second.dataCell();
  auto* popup = new PopupCell;
  second.setDataCell(popup);
  EXPECT_EQ(second.dataCell(), popup);
  EXPECT_EQ(table.itemDelegateForColumn(1), popup);
  EXPECT_EQ(table.itemDelegateForColumn(0), first.dataCell());
  EXPECT_EQ(popup->parent(), &table);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(former.isNull());

  second.setDataCell(nullptr);
  ASSERT_NE(second.dataCell(), nullptr);
  EXPECT_EQ(typeid(*second.dataCell()), typeid(TextCell));
}

}  // namespace
}  // namespace platform
