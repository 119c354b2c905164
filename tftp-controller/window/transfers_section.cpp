#include "tftp-controller/window/transfers_section.h"

#include <libintl.h>

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "tftp-controller/checks/diagnosis_probes.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

enum Column { kTime, kClient, kFile, kKind, kResult, kColumns };

// A request's result comes in a later line of the same server: rows this close to the end may
// still change.
constexpr int kRowsStillOpen = 32;

}  // namespace

std::string TransferResultText(const TransferEvent& event) {
  std::string text = event.result;
  if (!event.asked_path.empty()) text += ": " + event.asked_path;
  return text;
}

TransfersSection::TransfersSection(QWidget* parent) : QWidget(parent) {
  source_label_ = new QLabel;
  source_label_->setWordWrap(true);
  source_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  source_label_->setAccessibleName(QStringLiteral("Transfer log source"));
  list_ = new QTreeWidget;
  list_->setAccessibleName(QStringLiteral("Transfers"));
  list_->setColumnCount(kColumns);
  list_->setHeaderLabels({_("Time"), _("Client"), _("File"), _("Kind"), _("Result")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(kTime, 70);
  list_->setColumnWidth(kClient, 110);
  list_->setColumnWidth(kFile, 150);
  list_->setColumnWidth(kKind, 50);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_, 1);
  layout->addWidget(source_label_);
  folder_ = [] { return std::string(); };
}

TransfersSection::~TransfersSection() = default;

void TransfersSection::SetSource(SourceChoice choice) {
  delete notifier_;
  notifier_ = nullptr;
  source_ = std::move(choice.source);
  if (!source_) {
    source_label_->setText(QString::fromStdString(choice.why_none));
    source_label_->setStyleSheet("color: #8a5a00;");
    source_label_->setAccessibleDescription(source_label_->text());
    return;
  }
  source_label_->setText(QString(_("From %1.")).arg(QString::fromStdString(source_->Describe())));
  source_label_->setStyleSheet("color: palette(mid);");
  source_label_->setAccessibleDescription(source_label_->text());
  if (source_->fd() >= 0) {
    notifier_ = new QSocketNotifier(source_->fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TransfersSection::ReadSource);
  }
  ReadSource();
}

void TransfersSection::Poll() {
  if (source_ && !notifier_) ReadSource();
}

void TransfersSection::ReadSource() {
  if (source_) AddLines(source_->ReadNew());
}

void TransfersSection::AddLines(const std::vector<LogLine>& lines) {
  if (lines.empty()) return;
  const std::string folder = folder_();
  for (const LogLine& line : lines) {
    if (IsDiagnosisLine(line)) continue;
    log_.Add(line.time_usec, line.pid, line.message, folder);
  }
  ShowEvents();
}

// The diagnosis's own fetches are no transfers of the user's: its request, and what the same
// server says of it afterwards, stay out of the list.
bool TransfersSection::IsDiagnosisLine(const LogLine& line) {
  const std::string_view message = line.message;
  if (message.starts_with("RRQ from ") || message.starts_with("WRQ from ")) {
    const std::size_t name = message.find(" filename ");
    if (name != std::string_view::npos && IsProbeName(message.substr(name + 10))) {
      probe_servers_.insert(line.pid);
      return true;
    }
    probe_servers_.erase(line.pid);  // a later server with the same pid
    return false;
  }
  return probe_servers_.count(line.pid) != 0;
}

void TransfersSection::ShowEvents() {
  const std::vector<TransferEvent>& events = log_.events();
  const int shown = list_->topLevelItemCount();
  const int total = static_cast<int>(events.size());
  const bool at_end =
      list_->topLevelItemCount() == 0 ||
      list_->visualItemRect(list_->topLevelItem(shown - 1)).bottom() <= list_->viewport()->height();
  for (int i = std::max(0, std::min(shown, total) - kRowsStillOpen); i < total; ++i) {
    const TransferEvent& event = events[i];
    QTreeWidgetItem* item = i < shown ? list_->topLevelItem(i) : new QTreeWidgetItem;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(event.time_usec / 1000);
    item->setText(kTime, when.toString("HH:mm:ss"));
    item->setToolTip(kTime, when.toString(Qt::ISODate));
    item->setText(kClient, QString::fromStdString(event.client));
    item->setText(kFile, QString::fromStdString(event.file));
    item->setText(kKind, event.direction == Direction::kRead ? _("read") : _("write"));
    item->setText(kResult, QString::fromStdString(TransferResultText(event)));
    item->setToolTip(kResult, item->text(kResult));
    const QBrush color = event.failed ? QBrush(QColor(0xb3, 0x26, 0x1e)) : QBrush();
    for (int column = 0; column < kColumns; ++column) item->setForeground(column, color);
    if (i >= shown) list_->addTopLevelItem(item);
  }
  if (at_end && total > shown) list_->scrollToBottom();
}

}  // namespace tftpc
