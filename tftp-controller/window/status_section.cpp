#include "tftp-controller/window/status_section.h"

#include <libintl.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {

std::string OtherHoldersText(const std::vector<PortHolder>& others) {
  if (others.empty()) return {};
  std::string text = _("Port 69 is also held by");
  bool first = true;
  for (const PortHolder& holder : others) {
    text += first ? " " : "; ";
    first = false;
    std::string details;
    if (!holder.launchd_label.empty()) {
      text += Say(_("the launchd job %@"), {holder.launchd_label});
      details = holder.launchd_definition;
      if (!holder.program.empty()) details += (details.empty() ? "" : ", ") + holder.program;
    } else {
      text += holder.program.empty() ? _("a program of another user") : holder.program;
    }
    if (holder.pid > 0)
      details += std::string(details.empty() ? "" : ", ") + "pid " + std::to_string(holder.pid);
    if (!holder.systemd_unit.empty()) {
      details += (details.empty() ? "" : ", ") + holder.systemd_unit;
    }
    if (!holder.local_address.empty()) {
      details += (details.empty() ? "" : ", ") + std::string(_("on ")) + holder.local_address;
    }
    if (!details.empty()) text += " (" + details + ")";
  }
  return text + ".";
}

bool DistroUnitHoldsPort(const std::vector<PortHolder>& others) {
  for (const PortHolder& holder : others) {
    if (holder.systemd_unit == kDistroUnit) return true;
  }
  return false;
}

std::string LaunchdJobHoldingPort(const std::vector<PortHolder>& others) {
  for (const PortHolder& holder : others) {
    if (!holder.launchd_definition.empty()) return holder.launchd_definition;
  }
  return {};
}

StatusSection::StatusSection(QWidget* parent) : QWidget(parent) {
  status_label_ = new QLabel;
  status_label_->setAccessibleName(QStringLiteral("Status"));
  status_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont big = status_label_->font();
  big.setPointSizeF(big.pointSizeF() * 1.35);
  big.setBold(true);
  status_label_->setFont(big);

  start_ = new QPushButton(_("&Start"));
  start_->setAccessibleName(QStringLiteral("Start"));
  stop_ = new QPushButton(_("S&top"));
  stop_->setAccessibleName(QStringLiteral("Stop"));
  restart_ = new QPushButton(_("&Restart"));
  restart_->setAccessibleName(QStringLiteral("Restart"));
  for (QPushButton* button : {start_, stop_, restart_}) button->setMinimumWidth(90);

  others_label_ = new QLabel;
  others_label_->setWordWrap(true);
  others_label_->setAccessibleName(QStringLiteral("Other servers"));
  others_label_->hide();
  take_over_ = new QPushButton(_("Take o&ver"));
  take_over_->setAccessibleName(QStringLiteral("Take over"));
  take_over_->setToolTip(
      _("Stop and disable the distribution's own TFTP service, so that this one can serve"));
  take_over_->hide();
  stop_job_ = new QPushButton(_("Stop &job"));
  stop_job_->setAccessibleName(QStringLiteral("Stop job"));
  stop_job_->hide();

  message_label_ = new QLabel;
  message_label_->setWordWrap(true);
  message_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_label_->setAccessibleName(QStringLiteral("Message"));
  message_label_->hide();

  stop_after_ = new QSpinBox;
  stop_after_->setRange(0, 24 * 60);
  stop_after_->setSpecialValueText(_("never"));
  stop_after_->setSuffix(_(" min"));
  stop_after_->setAccessibleName(QStringLiteral("Stop after"));
  stop_after_->setToolTip(_("Stop the service this many minutes after it starts"));
  auto* stop_after_label = new QLabel(_("Stop &after:"));
  stop_after_label->setBuddy(stop_after_);
  countdown_label_ = new QLabel;
  countdown_label_->setAccessibleName(QStringLiteral("Stops in"));

  auto* top = new QHBoxLayout;
  top->addWidget(status_label_, 1);
  top->addWidget(start_);
  top->addWidget(stop_);
  top->addWidget(restart_);
  auto* second = new QHBoxLayout;
  second->addWidget(others_label_, 1);
  second->addWidget(take_over_);
  second->addWidget(stop_job_);
  auto* third = new QHBoxLayout;
  third->addWidget(message_label_, 1);
  third->addStretch(0);
  third->addWidget(stop_after_label);
  third->addWidget(stop_after_);
  third->addWidget(countdown_label_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addLayout(second);
  layout->addLayout(third);

  connect(start_, &QPushButton::clicked, this, &StatusSection::startClicked);
  connect(stop_, &QPushButton::clicked, this, &StatusSection::stopClicked);
  connect(restart_, &QPushButton::clicked, this, &StatusSection::restartClicked);
  connect(take_over_, &QPushButton::clicked, this, &StatusSection::takeOverClicked);
  connect(stop_job_, &QPushButton::clicked, this, [this] {
    const std::string definition = LaunchdJobHoldingPort(status_.others);
    if (!definition.empty()) emit stopJobClicked(definition);
  });
  connect(stop_after_, &QSpinBox::valueChanged, this,
          [this](int minutes) { emit stopAfterChanged(static_cast<unsigned>(minutes)); });
  UpdateButtons();
}

void StatusSection::ShowStatus(const ServiceStatus& status) {
  if (shown_once_ && status == status_) return;
  shown_once_ = true;
  status_ = status;
  const QString text = QString::fromStdString(status.text);
  status_label_->setText(text);
  // Screen readers get no text from a label: its description carries it.
  status_label_->setAccessibleDescription(text);
  status_label_->setStyleSheet(status.running ? "color: #1e7b34;" : "");
  const QString others = QString::fromStdString(OtherHoldersText(status.others));
  others_label_->setText(others);
  others_label_->setAccessibleDescription(others);
  others_label_->setVisible(!others.isEmpty());
  take_over_->setVisible(DistroUnitHoldsPort(status.others));
  const std::string job = LaunchdJobHoldingPort(status.others);
  stop_job_->setVisible(!job.empty());
  stop_job_->setToolTip(
      QString(_("Unload the job of %1 with launchdtool")).arg(QString::fromStdString(job)));
  UpdateButtons();
}

void StatusSection::SetBusy(bool busy, const QString& what) {
  busy_ = busy;
  if (busy) ShowMessage(what, false);
  UpdateButtons();
}

void StatusSection::ShowMessage(const QString& text, bool error) {
  message_label_->setText(text);
  message_label_->setAccessibleDescription(text);
  message_label_->setStyleSheet(error ? "color: #b3261e;" : "");
  message_label_->setVisible(!text.isEmpty());
}

void StatusSection::ShowCountdown(const QString& text) {
  if (countdown_label_->text() == text) return;
  countdown_label_->setText(text);
  countdown_label_->setAccessibleDescription(text);
}

void StatusSection::UpdateButtons() {
  start_->setEnabled(!busy_ && !status_.running);
  stop_->setEnabled(!busy_ && (status_.running || status_.enabled));
  restart_->setEnabled(!busy_ && status_.running);
  take_over_->setEnabled(!busy_);
  stop_job_->setEnabled(!busy_);
}

}  // namespace tftpc
