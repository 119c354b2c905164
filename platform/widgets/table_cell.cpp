#include "platform/widgets/table_cell.h"

#include <QApplication>
#include <QStyle>

namespace platform {

TableCell::TableCell(QObject* parent) : QStyledItemDelegate(parent) {}
TableCell::~TableCell() = default;

QStyle* TableCell::styleOf(const QStyleOptionViewItem& option) {
  return option.widget ? option.widget->style() : QApplication::style();
}

void TableCell::drawRowBackground(QPainter* painter, QStyleOptionViewItem* option) {
  option->text.clear();
  option->icon = QIcon();
  option->features &= ~(QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                        QStyleOptionViewItem::HasDecoration);
  styleOf(*option)->drawControl(QStyle::CE_ItemViewItem, option, painter, option->widget);
}

TextCell::TextCell(QObject* parent) : TableCell(parent) {}
TextCell::~TextCell() = default;

}  // namespace platform
