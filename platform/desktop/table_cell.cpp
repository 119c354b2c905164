#include "platform/desktop/table_cell.h"

namespace platform {

TableCell::TableCell(QObject* parent) : QStyledItemDelegate(parent) {}
TableCell::~TableCell() = default;

TextCell::TextCell(QObject* parent) : TableCell(parent) {}
TextCell::~TextCell() = default;

}  // namespace platform
