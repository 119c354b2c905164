#include "tftp-controller/window/interfaces_section.h"

#include <libintl.h>
#include <net/if.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <set>

#include "platform/widgets/check_box_cell.h"
#include "platform/widgets/table_view.h"
#include "utility/network_addresses.h"
#include "utility/widgets/qrb_popup_button.h"
#include "utility/widgets/qrb_table_view.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

enum Column { kListen, kName, kAddress, kHardware, kLink, kColumns };

QString LinkText(const InterfaceRow& row) {
  if (!row.up) return _("down");
  return row.carrier ? _("connected") : _("no carrier");
}

}  // namespace

std::vector<InterfaceRow> InterfaceRowsFrom(const std::vector<platform::InterfaceRecord>& records) {
  ScanIPAddresses(records);
  ScanHWAddresses(records);
  std::vector<InterfaceRow> rows;
  std::set<std::string> listed;
  for (int i = 0; i < kAddressTableSize && ip_addrs[i] != 0; ++i) {
    InterfaceRow row;
    row.name = if_names[i];
    row.ipv4 = ip_names[i];
    if (hw_addrs[i]) row.hardware = hw_addrs[i];
    rows.push_back(row);
    listed.insert(row.name);
  }
  FreeAddresses();
  // The link records carry each interface's state, and name the ones the listing leaves out.
  std::set<std::string> loopback;
  for (const platform::InterfaceRecord& record : records) {
    if (record.kind != platform::InterfaceRecord::Kind::kLink) continue;
    if (record.flags & IFF_LOOPBACK) {
      loopback.insert(record.name);
      continue;
    }
    InterfaceRow* row = nullptr;
    for (InterfaceRow& listed_row : rows) {
      if (listed_row.name == record.name) row = &listed_row;
    }
    if (!row) {
      rows.emplace_back();
      row = &rows.back();
      row->name = record.name;
      char hw[3 * 6] = "";
      if (record.hw.size() >= 6) {
        std::snprintf(hw, sizeof hw, "%02X:%02X:%02X:%02X:%02X:%02X", record.hw[0], record.hw[1],
                      record.hw[2], record.hw[3], record.hw[4], record.hw[5]);
      }
      row->hardware = hw;
    }
    row->up = (record.flags & IFF_UP) != 0;
    row->carrier = (record.flags & IFF_RUNNING) != 0;
  }
  std::erase_if(rows, [&](const InterfaceRow& row) { return loopback.count(row.name) > 0; });
  return rows;
}

std::string DeviceAddress(const std::vector<InterfaceRow>& rows,
                          const std::string& listen_address) {
  if (!listen_address.empty()) return listen_address;
  for (const InterfaceRow& row : rows) {
    if (!row.ipv4.empty() && row.carrier) return row.ipv4;
  }
  for (const InterfaceRow& row : rows) {
    if (!row.ipv4.empty()) return row.ipv4;
  }
  return {};
}

InterfacesSection::InterfacesSection(QWidget* parent) : QWidget(parent), model_(0, kColumns) {
  model_.setHorizontalHeaderLabels(
      {_("Listen"), _("Interface"), _("IPv4 address"), _("Hardware address"), _("Link")});
  table_ = new platform::TableView;
  table_->setModel(&model_);
  auto* check = new platform::CheckBoxCell;
  table_->addTableColumn("listen").setDataCell(check);
  table_->addTableColumn("name");
  table_->addTableColumn("ipv4");
  table_->addTableColumn("hardware");
  table_->addTableColumn("link");
  QRBTableView::centerCheckboxCells(*table_);
  table_->verticalHeader()->hide();
  table_->setShowGrid(false);
  table_->setAlternatingRowColors(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(kListen, 52);
  table_->setColumnWidth(kName, 90);
  table_->setColumnWidth(kAddress, 110);
  table_->setColumnWidth(kHardware, 140);
  table_->setAccessibleName(QStringLiteral("Interfaces"));
  table_->setMinimumHeight(120);

  listen_ = new QComboBox;
  listen_->setAccessibleName(QStringLiteral("Listen on"));
  auto* listen_label = new QLabel(_("Listen o&n:"));
  listen_label->setBuddy(listen_);
  refresh_ = new QPushButton(_("Refresh"));
  refresh_->setAccessibleName(QStringLiteral("Refresh interfaces"));
  device_label_ = new QLabel;
  device_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  device_label_->setAccessibleName(QStringLiteral("Device address"));
  copy_ = new QPushButton(_("Copy address"));
  copy_->setAccessibleName(QStringLiteral("Copy address"));

  auto* listen_row = new QHBoxLayout;
  listen_row->addWidget(listen_label);
  listen_row->addWidget(listen_, 1);
  listen_row->addWidget(refresh_);
  auto* device_row = new QHBoxLayout;
  device_row->addWidget(device_label_, 1);
  device_row->addWidget(copy_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(table_, 1);
  layout->addLayout(device_row);
  layout->addLayout(listen_row);

  connect(listen_, &QComboBox::currentIndexChanged, this, [this] {
    if (updating_) return;
    MarkDeviceAddress();
    emit listenAddressChanged();
  });
  connect(&model_, &QStandardItemModel::itemChanged, this, &InterfacesSection::OnItemChanged);
  connect(refresh_, &QPushButton::clicked, this, &InterfacesSection::Refresh);
  connect(copy_, &QPushButton::clicked, this, [this] {
    const std::string address = DeviceAddress(rows_, ListenAddress());
    if (!address.empty()) QApplication::clipboard()->setText(QString::fromStdString(address));
  });
  FillListenChoices({});
}

InterfacesSection::~InterfacesSection() = default;

void InterfacesSection::Refresh() {
  std::string err;
  auto records = platform::ReadInterfaceRecords(&err);
  ShowRows(records ? InterfaceRowsFrom(*records) : std::vector<InterfaceRow>{});
}

void InterfacesSection::ShowRows(const std::vector<InterfaceRow>& rows) {
  const std::string keep = ListenAddress();
  rows_ = rows;
  updating_ = true;
  model_.setRowCount(0);
  for (const InterfaceRow& row : rows_) {
    auto* listen = new QStandardItem;
    listen->setFlags(row.ipv4.empty() ? Qt::NoItemFlags
                                      : Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    if (!row.ipv4.empty()) listen->setData(Qt::Unchecked, Qt::CheckStateRole);
    QList<QStandardItem*> items{listen};
    for (const std::string& text : {row.name, row.ipv4, row.hardware}) {
      items.append(new QStandardItem(QString::fromStdString(text)));
    }
    items.append(new QStandardItem(LinkText(row)));
    for (QStandardItem* item : items.mid(1))
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    model_.appendRow(items);
  }
  updating_ = false;
  FillListenChoices(keep);
}

std::string InterfacesSection::ListenAddress() const {
  return listen_->currentData().toString().toStdString();
}

void InterfacesSection::SetListenAddress(const std::string& address) {
  FillListenChoices(address);
}

void InterfacesSection::FillListenChoices(const std::string& keep) {
  updating_ = true;
  QStringList titles{_("Every address")};
  QStringList addresses{QString()};
  for (const InterfaceRow& row : rows_) {
    if (row.ipv4.empty()) continue;
    titles.append(QString::fromStdString(row.name + ": " + row.ipv4));
    addresses.append(QString::fromStdString(row.ipv4));
  }
  const QString wanted = QString::fromStdString(keep);
  if (!addresses.contains(wanted)) {
    titles.append(QString(_("%1 (not on this machine)")).arg(wanted));
    addresses.append(wanted);
  }
  QRBPopupButton::replaceItemsWithTitles(*listen_, titles);
  for (int i = 0; i < addresses.size(); ++i) listen_->setItemData(i, addresses[i]);
  listen_->setCurrentIndex(static_cast<int>(addresses.indexOf(wanted)));
  updating_ = false;
  MarkDeviceAddress();
}

void InterfacesSection::MarkDeviceAddress() {
  const std::string listen = ListenAddress();
  const std::string device = DeviceAddress(rows_, listen);
  updating_ = true;
  for (int i = 0; i < model_.rowCount() && i < static_cast<int>(rows_.size()); ++i) {
    const InterfaceRow& row = rows_[i];
    if (QStandardItem* item = model_.item(i, kListen); item && !row.ipv4.empty()) {
      item->setData(row.ipv4 == listen ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
    const bool marked = !device.empty() && row.ipv4 == device;
    for (int column = kName; column < kColumns; ++column) {
      if (QStandardItem* item = model_.item(i, column)) {
        QFont font = item->font();
        font.setBold(marked);
        item->setFont(font);
      }
    }
  }
  updating_ = false;
  // Bold text is wider: the columns are fitted once the mark is drawn.
  for (int column = kName; column < kLink; ++column) table_->resizeColumnToContents(column);
  device_label_->setText(
      device.empty()
          ? QString(_("No address to give devices: no interface has IPv4."))
          : QString(_("Give devices the server address %1")).arg(QString::fromStdString(device)));
  device_label_->setAccessibleDescription(device_label_->text());
  copy_->setEnabled(!device.empty());
}

void InterfacesSection::OnItemChanged(QStandardItem* item) {
  if (updating_ || item->column() != kListen) return;
  const int row = item->row();
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  const QString address = QString::fromStdString(rows_[row].ipv4);
  // A checked row listens on its address alone; unchecking it listens on every address again.
  const QString wanted = item->checkState() == Qt::Checked ? address : QString();
  const int index = listen_->findData(wanted);
  if (index >= 0) listen_->setCurrentIndex(index);  // emits, and marks the rows again
}

}  // namespace tftpc
