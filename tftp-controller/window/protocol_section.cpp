#include "tftp-controller/window/protocol_section.h"

#include <libintl.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

#define _(s) gettext(s)

namespace tftpc {

namespace {

// A box whose lowest value, `none`, stands for the server's default; a value the server does not
// take between it and the highest is refused in the option checker's words.
QSpinBox* OptionalBox(int none, int highest, const char* suffix, const char* default_text,
                      const char* accessible_name) {
  auto* box = new QSpinBox;
  box->setRange(none, highest);
  box->setSpecialValueText(default_text);
  box->setSuffix(suffix);
  box->setAccessibleName(accessible_name);
  box->setMinimumWidth(box->fontMetrics().horizontalAdvance(default_text) + 48);
  return box;
}

std::optional<unsigned> OptionalValue(const QSpinBox* box) {
  if (box->value() == box->minimum()) return std::nullopt;
  return static_cast<unsigned>(box->value());
}

void ShowValue(QSpinBox* box, std::optional<unsigned> value) {
  if (!value) {
    box->setValue(box->minimum());
  } else if (*value > static_cast<unsigned>(box->maximum())) {
    box->setValue(box->maximum());
  } else {
    box->setValue(static_cast<int>(*value));
  }
}

// The ranges the server takes.
constexpr int kMinBlockSize = 512;
constexpr int kMaxBlockSize = 65464;
constexpr int kMaxIdleSeconds = 999999999;
constexpr int kMinRetransmitUs = 10000;
constexpr int kMaxRetransmitUs = 255000000;

}  // namespace

ProtocolSection::ProtocolSection(QWidget* parent) : QWidget(parent) {
  block_size_ = OptionalBox(kMinBlockSize - 1, kMaxBlockSize, _(" bytes"),
                            _("server's default (512 bytes)"), "Largest block size");
  idle_ = OptionalBox(0, kMaxIdleSeconds, _(" s"), _("server's default (900 s)"),
                      "Idle server exits after");
  idle_->setToolTip(
      _("How long a server with nothing to do waits for another request before it "
        "exits (-t)"));
  retransmit_ = OptionalBox(0, kMaxRetransmitUs, _(" µs"), _("server's default (1000000 µs)"),
                            "Retransmit timeout");
  retransmit_->setSingleStep(kMinRetransmitUs);
  retransmit_->setToolTip(
      _("How long the server waits for an answer before it sends a packet "
        "again (-T)"));
  ports_ = new QCheckBox(_("Data ports &only from"));
  ports_->setAccessibleName(QStringLiteral("Limit data ports"));
  ports_->setToolTip(
      _("Send data from these UDP ports only, so that a firewall can let them "
        "through (-R)"));
  first_port_ = new QSpinBox;
  first_port_->setRange(1, 65535);
  first_port_->setValue(50000);
  first_port_->setAccessibleName(QStringLiteral("First data port"));
  last_port_ = new QSpinBox;
  last_port_->setRange(1, 65535);
  last_port_->setValue(50100);
  last_port_->setAccessibleName(QStringLiteral("Last data port"));
  family_ = new QComboBox;
  family_->addItem(_("IPv4 and IPv6"));
  family_->addItem(_("IPv4 only"));
  family_->addItem(_("IPv6 only"));
  family_->setAccessibleName(QStringLiteral("Address family"));
  map_names_ = new QCheckBox(_("&Map client file names (backslashes, upper case)"));
  map_names_->setAccessibleName(QStringLiteral("Map file names"));
  map_names_->setToolTip(
      QString(_("Rewrite the names clients ask for by the rules in %1 (-m)")).arg(kRemapFile));

  auto* ports = new QHBoxLayout;
  ports->addWidget(ports_);
  ports->addWidget(first_port_);
  ports->addWidget(new QLabel(_("to")));
  ports->addWidget(last_port_);
  ports->addStretch(1);

  auto* form = new QFormLayout(this);
  form->setContentsMargins(0, 0, 0, 0);
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  auto add = [form](const char* text, QWidget* field) {
    auto* label = new QLabel(text);
    label->setBuddy(field);
    form->addRow(label, field);
  };
  add(_("Largest &block size:"), block_size_);
  add(_("Idle server &exits after:"), idle_);
  add(_("Retransm&it after:"), retransmit_);
  form->addRow(ports);
  add(_("Address famil&y:"), family_);
  form->addRow(map_names_);

  auto changed = [this] { emit this->changed(); };
  for (QSpinBox* box : {block_size_, idle_, retransmit_, first_port_, last_port_}) {
    connect(box, &QSpinBox::editingFinished, this, changed);
  }
  connect(ports_, &QCheckBox::toggled, this, [this, changed] {
    first_port_->setEnabled(ports_->isChecked());
    last_port_->setEnabled(ports_->isChecked());
    changed();
  });
  connect(family_, &QComboBox::currentIndexChanged, this, changed);
  connect(map_names_, &QCheckBox::toggled, this, changed);
  first_port_->setEnabled(false);
  last_port_->setEnabled(false);
}

void ProtocolSection::ShowOptions(const ServerOptions& options) {
  const QSignalBlocker blockers[] = {QSignalBlocker(ports_), QSignalBlocker(family_),
                                     QSignalBlocker(map_names_)};
  ShowValue(block_size_, options.block_size);
  ShowValue(idle_, options.idle_timeout);
  ShowValue(retransmit_, options.retransmit_us);
  ports_->setChecked(options.port_range.has_value());
  if (options.port_range) {
    first_port_->setValue(static_cast<int>(options.port_range->first));
    last_port_->setValue(static_cast<int>(options.port_range->last));
  }
  first_port_->setEnabled(ports_->isChecked());
  last_port_->setEnabled(ports_->isChecked());
  switch (options.family) {
    case AddressFamily::kAny:
      family_->setCurrentIndex(0);
      break;
    case AddressFamily::kIPv4Only:
      family_->setCurrentIndex(1);
      break;
    case AddressFamily::kIPv6Only:
      family_->setCurrentIndex(2);
      break;
  }
  map_names_->setChecked(options.map_names);
}

void ProtocolSection::ReadOptions(ServerOptions* options) const {
  options->block_size = OptionalValue(block_size_);
  options->idle_timeout = OptionalValue(idle_);
  options->retransmit_us = OptionalValue(retransmit_);
  options->port_range.reset();
  if (ports_->isChecked()) {
    options->port_range = PortRange{static_cast<unsigned>(first_port_->value()),
                                    static_cast<unsigned>(last_port_->value())};
  }
  constexpr AddressFamily kFamilies[] = {AddressFamily::kAny, AddressFamily::kIPv4Only,
                                         AddressFamily::kIPv6Only};
  options->family = kFamilies[family_->currentIndex() < 0 ? 0 : family_->currentIndex()];
  options->map_names = map_names_->isChecked();
}

}  // namespace tftpc
