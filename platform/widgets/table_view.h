// A table view whose columns carry an identifier and a data cell.
#pragma once

#include <QList>
#include <QString>
#include <QTableView>
#include <memory>
#include <vector>

#include "platform/widgets/table_cell.h"

namespace platform {

class TableView;

// A column of a table view: the identifier the program knows it by, and the cell that draws and
// edits its rows. Owned by its view.
class TableColumn {
 public:
  TableColumn(const TableColumn&) = delete;
  TableColumn& operator=(const TableColumn&) = delete;

  const QString& identifier() const { return identifier_; }
  TableCell* dataCell() const { return cell_; }
  // The view takes the cell (it becomes the view's child; null gives a text cell) and deletes
  // the one it replaces. A cell serves one column.
  void setDataCell(TableCell* cell);

 private:
  friend class TableView;
  TableColumn(TableView& view, int index, QString identifier);

  TableView& view_;
  int index_;
  QString identifier_;
  TableCell* cell_ = nullptr;
};

// Column i of the view shows column i of its model; a model column beyond the view's columns is
// drawn by the view's default delegate.
class TableView : public QTableView {
  Q_OBJECT

 public:
  explicit TableView(QWidget* parent = nullptr);
  ~TableView() override;

  // Adds a column after the others, with a text cell.
  TableColumn& addTableColumn(const QString& identifier);
  // The columns in order.
  QList<TableColumn*> tableColumns() const;
  // The first column with that identifier, or null.
  TableColumn* tableColumnWithIdentifier(const QString& identifier) const;

 private:
  std::vector<std::unique_ptr<TableColumn>> columns_;
};

}  // namespace platform
