// A pop-up menu in each row of a table column.
#pragma once

#include <QStringList>

#include "platform/widgets/table_cell.h"

namespace platform {

// Lists item titles; the row's value is the title chosen (the model's edit role), drawn in a
// pop-up button. Editing opens a QComboBox that offers the titles in order; choosing one writes
// it into the model and closes the editor.
class PopupCell : public TableCell {
  Q_OBJECT

 public:
  explicit PopupCell(QObject* parent = nullptr);

  const QStringList& itemTitles() const { return titles_; }
  // Appends the titles in order; a title already listed is listed again.
  void addItemsWithTitles(const QStringList& titles);
  void removeAllItems();

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

 private slots:
  void commitAndCloseEditor();

 private:
  QStringList titles_;
};

}  // namespace platform
