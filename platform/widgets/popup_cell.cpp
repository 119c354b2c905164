#include "platform/widgets/popup_cell.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QPainter>
#include <QStyle>

namespace platform {

PopupCell::PopupCell(QObject* parent) : TableCell(parent) {}

void PopupCell::addItemsWithTitles(const QStringList& titles) {
  if (titles.isEmpty()) return;
  titles_.append(titles);
  emit sizeHintChanged(QModelIndex());
}

void PopupCell::removeAllItems() {
  if (titles_.isEmpty()) return;
  titles_.clear();
  emit sizeHintChanged(QModelIndex());
}

void PopupCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                      const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  QStyle* style = styleOf(opt);
  // The row's background and selection, then a pop-up button showing the value.
  const QString value = opt.text;
  drawRowBackground(painter, &opt);

  QStyleOptionComboBox button;
  button.direction = opt.direction;
  button.fontMetrics = opt.fontMetrics;
  button.palette = opt.palette;
  button.rect = opt.rect.adjusted(1, 1, -1, -1);
  button.state = opt.state & QStyle::State_Enabled;
  button.currentText = value;
  button.frame = true;
  button.editable = false;
  painter->save();
  painter->setFont(opt.font);
  style->drawComplexControl(QStyle::CC_ComboBox, &button, painter, opt.widget);
  style->drawControl(QStyle::CE_ComboBoxLabel, &button, painter, opt.widget);
  painter->restore();
}

QSize PopupCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  int textWidth = opt.fontMetrics.horizontalAdvance(opt.text);
  for (const QString& title : titles_) {
    textWidth = std::max(textWidth, opt.fontMetrics.horizontalAdvance(title));
  }
  QStyleOptionComboBox button;
  button.fontMetrics = opt.fontMetrics;
  button.frame = true;
  const QSize content(textWidth, opt.fontMetrics.height());
  return styleOf(opt)
      ->sizeFromContents(QStyle::CT_ComboBox, &button, content, opt.widget)
      .grownBy(QMargins(1, 1, 1, 1));
}

QWidget* PopupCell::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                 const QModelIndex&) const {
  auto* editor = new QComboBox(parent);
  editor->addItems(titles_);
  connect(editor, &QComboBox::activated, this, &PopupCell::commitAndCloseEditor);
  return editor;
}

void PopupCell::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* button = qobject_cast<QComboBox*>(editor);
  if (button == nullptr) return;
  button->setCurrentIndex(button->findText(index.data(Qt::EditRole).toString(), Qt::MatchExactly));
}

void PopupCell::setModelData(QWidget* editor, QAbstractItemModel* model,
                             const QModelIndex& index) const {
  auto* button = qobject_cast<QComboBox*>(editor);
  // With nothing chosen (a cell without items) the model keeps its value.
  if (button == nullptr || model == nullptr || button->currentIndex() < 0) return;
  model->setData(index, button->currentText(), Qt::EditRole);
}

void PopupCell::commitAndCloseEditor() {
  auto* editor = qobject_cast<QWidget*>(sender());
  if (editor == nullptr) return;
  emit commitData(editor);
  emit closeEditor(editor);
}

}  // namespace platform
