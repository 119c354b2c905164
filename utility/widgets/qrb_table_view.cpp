#include "utility/widgets/qrb_table_view.h"

#include <QString>
#include <QStringList>
#include <typeinfo>

#include "platform/widgets/check_box_cell.h"
#include "platform/widgets/popup_cell.h"
#include "platform/widgets/table_view.h"

namespace QRBTableView {

void fillPopupButtonCell(platform::TableView& table, const QString& identifier,
                         const QStringList& titles) {
  platform::TableColumn* column = table.tableColumnWithIdentifier(identifier);
  if (column == nullptr) return;
  auto* cell = qobject_cast<platform::PopupCell*>(column->dataCell());
  if (cell == nullptr) return;
  cell->addItemsWithTitles(titles);
}

void centerCheckboxCells(platform::TableView& table) {
  for (platform::TableColumn* column : table.tableColumns()) {
    platform::TableCell* cell = column->dataCell();
    if (cell == nullptr || typeid(*cell) != typeid(platform::CheckBoxCell)) continue;
    static_cast<platform::CheckBoxCell*>(cell)->setImagePosition(platform::NSImageOnly);
  }
  table.viewport()->update();
}

}  // namespace QRBTableView
