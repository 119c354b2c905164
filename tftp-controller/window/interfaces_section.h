// The machine's interfaces in a table (name, IPv4 address, hardware address, link), the address a
// device is to be given, and where the server listens: every address, or one.
#pragma once

#include <QStandardItemModel>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/net/interface_records.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace platform {
class TableView;
}

namespace tftpc {

struct InterfaceRow {
  std::string name;
  std::string ipv4;      // empty: none (or the interface is down)
  std::string hardware;  // "00:1A:2B:0C:04:FF"; empty: none
  bool up = false;
  bool carrier = false;  // the link is up
  bool operator==(const InterfaceRow&) const = default;
};

// One row per interface, loopback left out, in the kernel's order: the IPv4 and hardware
// addresses as the library's address listing gives them, then the links it does not list (down,
// or without an IPv4 address). Uses, and leaves empty, the library's address tables.
std::vector<InterfaceRow> InterfaceRowsFrom(const std::vector<platform::InterfaceRecord>& records);

// The address to give devices: `listen_address` when the server listens on one, else the first
// row's IPv4 address that has a carrier, else the first with any IPv4 address; empty if none.
std::string DeviceAddress(const std::vector<InterfaceRow>& rows, const std::string& listen_address);

class InterfacesSection : public QWidget {
  Q_OBJECT

 public:
  explicit InterfacesSection(QWidget* parent = nullptr);
  ~InterfacesSection() override;

  // Reads the interfaces again and shows them.
  void Refresh();
  void ShowRows(const std::vector<InterfaceRow>& rows);
  const std::vector<InterfaceRow>& rows() const { return rows_; }

  // Empty: every address.
  std::string ListenAddress() const;
  // An address no interface has is listed anyway, marked, so that the choice is not lost.
  void SetListenAddress(const std::string& address);

  QComboBox* listenOn() const { return listen_; }
  platform::TableView* table() const { return table_; }

 signals:
  void listenAddressChanged();

 private:
  void FillListenChoices(const std::string& keep);
  void MarkDeviceAddress();
  void OnItemChanged(QStandardItem* item);

  std::vector<InterfaceRow> rows_;
  QStandardItemModel model_;
  platform::TableView* table_;
  QComboBox* listen_;
  QLabel* device_label_;
  QPushButton* copy_;
  QPushButton* refresh_;
  bool updating_ = false;
};

}  // namespace tftpc
