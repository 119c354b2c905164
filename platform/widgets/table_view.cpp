#include "platform/widgets/table_view.h"

#include <utility>

namespace platform {

TableColumn::TableColumn(TableView& view, int index, QString identifier)
    : view_(view), index_(index), identifier_(std::move(identifier)) {}

void TableColumn::setDataCell(TableCell* cell) {
  if (cell == nullptr) cell = new TextCell;
  if (cell == cell_) return;
  cell->setParent(&view_);
  view_.setItemDelegateForColumn(index_, cell);
  // An editor the former cell opened may still be closing: delete it once that is done.
  if (cell_ != nullptr) cell_->deleteLater();
  cell_ = cell;
  view_.viewport()->update();
}

TableView::TableView(QWidget* parent) : QTableView(parent) {}

TableView::~TableView() = default;

TableColumn& TableView::addTableColumn(const QString& identifier) {
  auto column = std::unique_ptr<TableColumn>(
      new TableColumn(*this, static_cast<int>(columns_.size()), identifier));
  column->setDataCell(new TextCell);
  columns_.push_back(std::move(column));
  return *columns_.back();
}

QList<TableColumn*> TableView::tableColumns() const {
  QList<TableColumn*> columns;
  columns.reserve(static_cast<qsizetype>(columns_.size()));
  for (const auto& column : columns_) columns.append(column.get());
  return columns;
}

TableColumn* TableView::tableColumnWithIdentifier(const QString& identifier) const {
  for (const auto& column : columns_) {
    if (column->identifier() == identifier) return column.get();
  }
  return nullptr;
}

}  // namespace platform
