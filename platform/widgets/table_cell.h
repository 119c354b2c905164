// The cells of a table view: a cell draws and edits the rows of one column, as the column's item
// delegate. A cell's class is its C++ type.
#pragma once

#include <QStyledItemDelegate>

class QPainter;
class QStyle;

namespace platform {

// What every cell of a table column is. By itself it draws nothing but what the base delegate
// draws; the kinds of cells derive from it.
class TableCell : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit TableCell(QObject* parent = nullptr);
  ~TableCell() override;

 protected:
  // The style that draws for the option's widget, else the application's.
  static QStyle* styleOf(const QStyleOptionViewItem& option);

  // Draws the row's background, selection and focus for *option, which loses the model's own
  // text, icon and check indicator on the way: a cell draws its content over them.
  static void drawRowBackground(QPainter* painter, QStyleOptionViewItem* option);
};

// A line of text: the model's display text, edited in a line editor (the model's edit role).
// A column's cell until it is given another.
class TextCell : public TableCell {
  Q_OBJECT

 public:
  explicit TextCell(QObject* parent = nullptr);
  ~TextCell() override;
};

}  // namespace platform
