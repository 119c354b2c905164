#include "tftp-controller/window/interfaces_section.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <QComboBox>
#include <QSignalSpy>

#include "platform/widgets/table_view.h"
#include "tests/desktop/offscreen_application.h"

namespace tftpc {
namespace {

using platform::InterfaceRecord;

InterfaceRecord Link(const char* name, unsigned flags, std::vector<std::uint8_t> hw) {
  InterfaceRecord record;
  record.kind = InterfaceRecord::Kind::kLink;
  record.name = name;
  record.flags = flags;
  record.hw = std::move(hw);
  return record;
}

InterfaceRecord Address(const char* name, unsigned flags, const char* ipv4) {
  InterfaceRecord record;
  record.name = name;
  record.flags = flags;
  inet_pton(AF_INET, ipv4, &record.ipv4);
  return record;
}

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

TEST(InterfacesSectionTest, RowsJoinTheAddressListingWithEveryLinksState) {
  const std::vector<InterfaceRecord> records = {
      Link("lo", kUp | IFF_LOOPBACK, {0, 0, 0, 0, 0, 0}),
      Link("eth0", kUp, {0x02, 0xfc, 0, 0, 0, 1}),
      Link("eth1", IFF_UP, {0x02, 0xfc, 0, 0, 0, 2}),  // up, no carrier
      Link("wlan0", 0, {0x02, 0xfc, 0, 0, 0, 3}),      // down
      Link("tun0", kUp, {}),                           // no hardware address
      Address("lo", kUp | IFF_LOOPBACK, "127.0.0.1"),
      Address("eth0", kUp, "192.0.2.10"),
      Address("eth0:1", kUp, "192.0.2.11"),  // an alias: the listing keeps the first
      Address("eth1", IFF_UP, "198.51.100.7"),
      Address("tun0", kUp, "203.0.113.1"),
  };
  const std::vector<InterfaceRow> rows = InterfaceRowsFrom(records);
  const std::vector<InterfaceRow> expected = {
      {"eth0", "192.0.2.10", "02:FC:00:00:00:01", true, true},
      {"eth1", "198.51.100.7", "02:FC:00:00:00:02", true, false},
      {"tun0", "203.0.113.1", "", true, true},
      {"wlan0", "", "02:FC:00:00:00:03", false, false},
  };
  EXPECT_EQ(rows, expected);

  // The address devices are given: the one listened on, else the first with a carrier.
  EXPECT_EQ(DeviceAddress(rows, ""), "192.0.2.10");
  EXPECT_EQ(DeviceAddress(rows, "198.51.100.7"), "198.51.100.7");
  std::vector<InterfaceRow> no_carrier = {rows[1], rows[3]};
  EXPECT_EQ(DeviceAddress(no_carrier, ""), "198.51.100.7");
  EXPECT_EQ(DeviceAddress({rows[3]}, ""), "");
}

TEST(InterfacesSectionTest, ListenOnAndTheTablesCheckBoxesFollowEachOther) {
  desktop_testing::OffscreenApplication();
  InterfacesSection section;
  section.ShowRows({{"eth0", "192.0.2.10", "02:FC:00:00:00:01", true, true},
                    {"eth1", "198.51.100.7", "02:FC:00:00:00:02", true, false},
                    {"wlan0", "", "02:FC:00:00:00:03", false, false}});
  QSignalSpy changed(&section, &InterfacesSection::listenAddressChanged);
  QComboBox* listen = section.listenOn();
  EXPECT_EQ(listen->accessibleName(), "Listen on");
  EXPECT_EQ(section.table()->accessibleName(), "Interfaces");
  ASSERT_EQ(listen->count(), 3);  // every address, and the two interfaces with an address
  EXPECT_EQ(section.ListenAddress(), "");

  auto* model = qobject_cast<QStandardItemModel*>(section.table()->model());
  ASSERT_NE(model, nullptr);
  auto checked = [&](int row) { return model->item(row, 0)->checkState() == Qt::Checked; };
  EXPECT_FALSE(model->item(2, 0)->isCheckable());  // no address to listen on

  // Checking a row listens on its address alone.
  model->item(1, 0)->setCheckState(Qt::Checked);
  EXPECT_EQ(section.ListenAddress(), "198.51.100.7");
  EXPECT_EQ(changed.count(), 1);
  EXPECT_FALSE(checked(0));
  // Choosing in the pop-up moves the check.
  listen->setCurrentIndex(1);
  EXPECT_EQ(section.ListenAddress(), "192.0.2.10");
  EXPECT_TRUE(checked(0));
  EXPECT_FALSE(checked(1));
  // Unchecking listens on every address again.
  model->item(0, 0)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(section.ListenAddress(), "");
  EXPECT_EQ(changed.count(), 3);

  // An address from the service file that no interface has stays chosen, and is kept when the
  // interfaces are read again.
  section.SetListenAddress("192.0.2.99");
  EXPECT_EQ(section.ListenAddress(), "192.0.2.99");
  EXPECT_EQ(listen->count(), 4);
  section.ShowRows(section.rows());
  EXPECT_EQ(section.ListenAddress(), "192.0.2.99");
  EXPECT_EQ(changed.count(), 3);  // set by the program, not the user
}

}  // namespace
}  // namespace tftpc
