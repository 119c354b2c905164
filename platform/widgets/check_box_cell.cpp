#include "platform/widgets/check_box_cell.h"

#include <QAbstractItemModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace platform {

namespace {

Qt::CheckState CheckStateOf(const QModelIndex& index) {
  const QVariant value = index.data(Qt::CheckStateRole);
  return value.isValid() ? static_cast<Qt::CheckState>(value.toInt()) : Qt::Unchecked;
}

}  // namespace

CheckBoxCell::CheckBoxCell(QObject* parent) : TableCell(parent) {}

void CheckBoxCell::setImagePosition(NSCellImagePosition position) {
  if (position == imagePosition_) return;
  imagePosition_ = position;
  emit sizeHintChanged(QModelIndex());  // the views showing this cell lay out and redraw
}

void CheckBoxCell::setTitle(const QString& title) {
  if (title == title_) return;
  title_ = title;
  emit sizeHintChanged(QModelIndex());
}

CheckBoxCell::Layout CheckBoxCell::layoutFor(const QStyleOptionViewItem& option) const {
  QStyle* style = styleOf(option);
  const QSize box(style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget),
                  style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget));
  const QRect cell = option.rect;
  if (imagePosition_ == NSImageOnly) {
    return {QStyle::alignedRect(option.direction, Qt::AlignCenter, box, cell), QRect()};
  }
  // Laid out left to right, then mirrored for a right-to-left layout.
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, option.widget) + 1;
  const int spacing = style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, option.widget);
  const QRect inner = cell.adjusted(margin, 0, -margin, 0);
  const bool boxFirst = imagePosition_ != NSImageRight;
  const QRect boxRect = QStyle::alignedRect(
      Qt::LeftToRight, (boxFirst ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, box, inner);
  QRect titleRect = boxFirst ? inner.adjusted(box.width() + spacing, 0, 0, 0)
                             : inner.adjusted(0, 0, -(box.width() + spacing), 0);
  if (title_.isEmpty() || titleRect.width() <= 0) titleRect = QRect();
  return {QStyle::visualRect(option.direction, cell, boxRect),
          titleRect.isNull() ? QRect() : QStyle::visualRect(option.direction, cell, titleRect)};
}

void CheckBoxCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  QStyle* style = styleOf(opt);
  drawRowBackground(painter, &opt);

  const Layout layout = layoutFor(opt);
  QStyleOptionViewItem box(opt);
  box.rect = layout.box;
  box.state &=
      ~(QStyle::State_HasFocus | QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange);
  switch (CheckStateOf(index)) {
    case Qt::Checked:
      box.state |= QStyle::State_On;
      break;
    case Qt::PartiallyChecked:
      box.state |= QStyle::State_NoChange;
      break;
    case Qt::Unchecked:
      box.state |= QStyle::State_Off;
      break;
  }
  style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, opt.widget);

  if (layout.title.isNull()) return;
  const bool selected = opt.state & QStyle::State_Selected;
  const QString text = opt.fontMetrics.elidedText(title_, Qt::ElideRight, layout.title.width());
  painter->save();
  painter->setFont(opt.font);
  style->drawItemText(painter, layout.title, Qt::AlignLeft | Qt::AlignVCenter, opt.palette,
                      opt.state & QStyle::State_Enabled, text,
                      selected ? QPalette::HighlightedText : QPalette::Text);
  painter->restore();
}

QSize CheckBoxCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  QStyle* style = styleOf(opt);
  const int boxWidth = style->pixelMetric(QStyle::PM_IndicatorWidth, &opt, opt.widget);
  const int boxHeight = style->pixelMetric(QStyle::PM_IndicatorHeight, &opt, opt.widget);
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &opt, opt.widget) + 1;
  int width = boxWidth + 2 * margin;
  int height = boxHeight + 2;
  if (imagePosition_ != NSImageOnly && !title_.isEmpty()) {
    width += style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &opt, opt.widget) +
             opt.fontMetrics.horizontalAdvance(title_);
    height = std::max(height, opt.fontMetrics.height() + 2);
  }
  return {width, height};
}

bool CheckBoxCell::editorEvent(QEvent* event, QAbstractItemModel* model,
                               const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (model == nullptr || !index.isValid()) return false;
  const Qt::ItemFlags flags = model->flags(index);
  if (!(flags & Qt::ItemIsEnabled) || !(flags & (Qt::ItemIsUserCheckable | Qt::ItemIsEditable))) {
    return false;
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return false;
      const Layout layout = layoutFor(option);
      const QPoint at = mouse->position().toPoint();
      const bool on = layout.box.contains(at) || layout.title.contains(at);
      // The press and a double click are the box's; the release toggles the box they were on.
      if (event->type() != QEvent::MouseButtonRelease) {
        pressed_ = on ? QPersistentModelIndex(index) : QPersistentModelIndex();
        return on;
      }
      const bool pressed_here = pressed_ == index;
      pressed_ = QPersistentModelIndex();
      if (!on || !pressed_here) return false;
      break;
    }
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Space && key != Qt::Key_Select) return false;
      break;
    }
    default:
      return false;
  }
  const Qt::CheckState next = CheckStateOf(index) == Qt::Checked ? Qt::Unchecked : Qt::Checked;
  return model->setData(index, static_cast<int>(next), Qt::CheckStateRole);
}

}  // namespace platform
