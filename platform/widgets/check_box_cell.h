// A check box in each row of a table column.
#pragma once

#include <QPersistentModelIndex>
#include <QRect>
#include <QString>

#include "platform/widgets/table_cell.h"

namespace platform {

// Where a button cell draws its image against its title; for a check box the image is the box.
// The values are the platform's.
enum NSCellImagePosition {
  NSImageOnly = 1,   // the box alone, centred in the column
  NSImageLeft = 2,   // the box, then the title (a check box's own way)
  NSImageRight = 3,  // the title, then the box
};

// The row's value is the model's check state (Qt::CheckStateRole). A left click on the box or its
// title (pressed and released there), or the space bar on the current cell, toggles it, when the
// model's item is enabled and either user-checkable or editable. The title is the cell's own, the
// same on every row.
class CheckBoxCell : public TableCell {
  Q_OBJECT

 public:
  explicit CheckBoxCell(QObject* parent = nullptr);

  NSCellImagePosition imagePosition() const { return imagePosition_; }
  void setImagePosition(NSCellImagePosition position);
  const QString& title() const { return title_; }
  void setTitle(const QString& title);

  // Where the box and the title of a row are drawn in `option.rect` (the title's rectangle is
  // empty for NSImageOnly).
  struct Layout {
    QRect box;
    QRect title;
  };
  Layout layoutFor(const QStyleOptionViewItem& option) const;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // A check box is toggled where it stands; it has no editor.
  QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override {
    return nullptr;
  }

 protected:
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

 private:
  NSCellImagePosition imagePosition_ = NSImageLeft;
  QString title_;
  QPersistentModelIndex pressed_;  // the row whose box the left button went down on
};

}  // namespace platform
