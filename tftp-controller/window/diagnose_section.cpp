#include "tftp-controller/window/diagnose_section.h"

#include <libintl.h>

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#define _(s) gettext(s)

namespace tftpc {

std::string VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return _("OK");
    case Verdict::kProblem:
      return _("Problem");
    case Verdict::kNote:
      return _("Note");
  }
  return {};
}

QString WrapText(const QString& text, const QFontMetrics& metrics, int width) {
  QString wrapped;
  QString line;
  for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
    const QString longer = line.isEmpty() ? word : line + ' ' + word;
    if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
      wrapped += line + '\n';
      line = word;
    } else {
      line = longer;
    }
  }
  return wrapped + line;
}

DiagnoseSection::DiagnoseSection(QWidget* parent) : QWidget(parent) {
  button_ = new QPushButton(_("&Diagnose"));
  button_->setAccessibleName(QStringLiteral("Diagnose"));
  button_->setToolTip(_("Check, step by step, why a device may not get its files"));
  summary_ = new QLabel(_("Press Diagnose to check the service from end to end."));
  summary_->setWordWrap(true);
  summary_->setAccessibleName(QStringLiteral("Diagnosis"));
  list_ = new QTreeWidget;
  list_->setAccessibleName(QStringLiteral("Findings"));
  list_->setColumnCount(2);
  list_->setHeaderLabels({_("Check"), _("Verdict")});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list_->setWordWrap(true);
  list_->setUniformRowHeights(false);

  auto* top = new QHBoxLayout;
  top->addWidget(summary_, 1);
  top->addWidget(button_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addWidget(list_, 1);
  connect(button_, &QPushButton::clicked, this, &DiagnoseSection::diagnoseClicked);
  list_->viewport()->installEventFilter(this);
}

bool DiagnoseSection::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::Resize) WrapLines();
  return QWidget::eventFilter(watched, event);
}

void DiagnoseSection::WrapLines() {
  const QFontMetrics metrics(list_->font());
  const int width = list_->viewport()->width() - 2 * list_->indentation() - 8;
  if (width < 80) return;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* finding = list_->topLevelItem(i);
    for (int j = 0; j < finding->childCount(); ++j) {
      QTreeWidgetItem* line = finding->child(j);
      const QString text = line->data(0, Qt::AccessibleTextRole).toString();
      const QString wrapped = WrapText(text, metrics, width);
      if (line->text(0) != wrapped) line->setText(0, wrapped);
    }
  }
}

void DiagnoseSection::SetRunning(bool running) {
  button_->setEnabled(!running);
  if (running) {
    summary_->setText(_("Checking…"));
    summary_->setAccessibleDescription(summary_->text());
  }
}

void DiagnoseSection::ShowFindings(const std::vector<Finding>& findings) {
  list_->clear();
  int problems = 0;
  QStyle* style = list_->style();
  for (const Finding& finding : findings) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(finding.check),
                                      QString::fromStdString(VerdictText(finding.verdict))});
    const QStyle::StandardPixmap icon =
        finding.verdict == Verdict::kOk        ? QStyle::SP_DialogApplyButton
        : finding.verdict == Verdict::kProblem ? QStyle::SP_MessageBoxWarning
                                               : QStyle::SP_MessageBoxInformation;
    item->setIcon(0, style->standardIcon(icon));
    if (finding.verdict == Verdict::kProblem) {
      ++problems;
      item->setForeground(1, QBrush(QColor(0xb3, 0x26, 0x1e)));
    }
    if (!finding.explanation.empty()) {
      new QTreeWidgetItem(item, {QString::fromStdString(finding.explanation)});
    }
    if (!finding.fix.empty()) {
      new QTreeWidgetItem(item, {QString(_("Fix: %1")).arg(QString::fromStdString(finding.fix))});
    }
    list_->addTopLevelItem(item);
    for (int i = 0; i < item->childCount(); ++i) {
      QTreeWidgetItem* line = item->child(i);
      line->setFirstColumnSpanned(true);  // once in the tree
      // The whole text, whatever the lines it is drawn in.
      line->setData(0, Qt::AccessibleTextRole, line->text(0));
      line->setToolTip(0, line->text(0));
    }
    // Problems open with their explanation and fix; what is fine stays one line.
    item->setExpanded(finding.verdict != Verdict::kOk);
  }
  const QString summary = findings.empty() ? QString(_("The diagnosis found nothing to check."))
                          : problems == 0
                              ? QString(_("No problem found."))
                              : QString(ngettext("%1 problem found: it says how to fix it.",
                                                 "%1 problems found: each says how to fix it.",
                                                 static_cast<unsigned long>(problems)))
                                    .arg(problems);
  summary_->setText(summary);
  summary_->setAccessibleDescription(summary);
  button_->setEnabled(true);
  WrapLines();
}

}  // namespace tftpc
