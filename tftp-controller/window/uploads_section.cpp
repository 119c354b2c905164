#include "tftp-controller/window/uploads_section.h"

#include <libintl.h>

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstdio>

#define _(s) gettext(s)

namespace tftpc {

bool ParseUmask(const std::string& text, std::optional<unsigned>* umask) {
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) {
    umask->reset();
    return true;
  }
  std::size_t end = text.find_last_not_of(' ') + 1;
  unsigned value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '7') return false;
    value = value * 8 + static_cast<unsigned>(text[i] - '0');
    if (value > 0777) return false;
  }
  *umask = value;
  return true;
}

std::string UmaskText(std::optional<unsigned> umask) {
  if (!umask) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04o", *umask);
  return text;
}

UploadsSection::UploadsSection(QWidget* parent) : QWidget(parent) {
  uploads_ = new QCheckBox(_("Allow &uploads: clients may create new files"));
  uploads_->setAccessibleName(QStringLiteral("Allow uploads"));
  umask_ = new QLineEdit;
  umask_->setAccessibleName(QStringLiteral("Umask of new files"));
  umask_->setPlaceholderText(_("server's default"));
  umask_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-7]{0,4}"), umask_));
  umask_->setMaximumWidth(140);
  permissive_ = new QCheckBox(_("&Permissive: only the system's own permission checks"));
  permissive_->setAccessibleName(QStringLiteral("Permissive"));

  auto* form = new QFormLayout;
  form->setContentsMargins(24, 0, 0, 0);
  auto* umask_label = new QLabel(_("Umas&k (octal):"));
  umask_label->setBuddy(umask_);
  form->addRow(umask_label, umask_);
  form->addRow(permissive_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(uploads_);
  layout->addLayout(form);

  connect(uploads_, &QCheckBox::toggled, this, [this] {
    UpdateEnabled();
    emit changed();
  });
  connect(umask_, &QLineEdit::editingFinished, this, &UploadsSection::changed);
  connect(permissive_, &QCheckBox::toggled, this, &UploadsSection::changed);
  UpdateEnabled();
}

void UploadsSection::ShowOptions(const ServerOptions& options) {
  const QSignalBlocker block_uploads(uploads_);
  const QSignalBlocker block_permissive(permissive_);
  uploads_->setChecked(options.uploads);
  umask_->setText(QString::fromStdString(UmaskText(options.umask)));
  permissive_->setChecked(options.permissive);
  UpdateEnabled();
}

bool UploadsSection::ReadOptions(ServerOptions* options, std::string* err) const {
  std::optional<unsigned> umask;
  if (!ParseUmask(umask_->text().toStdString(), &umask)) {
    *err = _("The umask must be an octal number from 0 to 0777.");
    return false;
  }
  options->uploads = uploads_->isChecked();
  options->umask = umask;
  options->permissive = permissive_->isChecked();
  return true;
}

void UploadsSection::UpdateEnabled() {
  umask_->setEnabled(uploads_->isChecked());
}

}  // namespace tftpc
