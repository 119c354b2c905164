#include "tftp-controller/window/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "tests/desktop/offscreen_application.h"
#include "tftp-controller/window/interfaces_section.h"
#include "tftp-controller/window/protocol_section.h"
#include "tftp-controller/window/status_section.h"
#include "tftp-controller/window/uploads_section.h"

namespace tftpc {
namespace {

// A window that reads no interfaces, no log and a service file that is not there.
WindowSetup QuietSetup() {
  WindowSetup setup;
  setup.backend.service_file = "/nonexistent/tftp";
  setup.status.service_file = "/nonexistent/tftp";
  setup.status.pid_file = "/nonexistent/xinetd.pid";
  setup.read_transfers = false;
  setup.read_interfaces = false;
  return setup;
}

ServerOptions With(void (*change)(ServerOptions&)) {
  ServerOptions options;
  change(options);
  return options;
}

TEST(MainWindowTest, EveryOptionGoesThroughTheWidgetsAndBackUnchanged) {
  desktop_testing::OffscreenApplication();
  MainWindow window(QuietSetup(), Settings{});
  const ServerOptions table[] = {
      ServerOptions{},
      With([](ServerOptions& o) { o.folder = "/home/ann/boot-images"; }),
      With([](ServerOptions& o) { o.listen_address = "192.0.2.10"; }),
      With([](ServerOptions& o) {
        o.uploads = true;
        o.umask = 022;
        o.permissive = true;
      }),
      With([](ServerOptions& o) {
        o.uploads = true;
        o.umask = 0;
      }),
      With([](ServerOptions& o) {
        o.block_size = 1468;
        o.idle_timeout = 60;
        o.retransmit_us = 250000;
      }),
      With([](ServerOptions& o) {
        o.port_range = PortRange{50000, 50100};
      }),
      With([](ServerOptions& o) { o.family = AddressFamily::kIPv4Only; }),
      With([](ServerOptions& o) {
        o.family = AddressFamily::kIPv6Only;
        o.map_names = true;
      }),
  };
  for (const ServerOptions& options : table) {
    SCOPED_TRACE(ServerArgsLine(options));
    window.ShowOptions(options);
    std::string err;
    const std::optional<ServerOptions> read = window.CurrentOptions(&err);
    ASSERT_TRUE(read.has_value()) << err;
    EXPECT_EQ(*read, options);
  }
  // After a range, none: the range's boxes keep their numbers but are not read.
  window.ShowOptions(ServerOptions{});
  EXPECT_FALSE(window.protocolSection()->firstPort()->isEnabled());
  // Without uploads the umask field is off; with them, a bad umask is refused in words.
  EXPECT_FALSE(window.uploadsSection()->umaskField()->isEnabled());
  window.uploadsSection()->allowUploads()->setChecked(true);
  EXPECT_TRUE(window.uploadsSection()->umaskField()->isEnabled());
  window.uploadsSection()->umaskField()->setText("1777");
  std::string err;
  EXPECT_FALSE(window.CurrentOptions(&err).has_value());
  EXPECT_EQ(err, "The umask must be an octal number from 0 to 0777.");
  // What the service file cannot carry is refused in the checker's words.
  window.uploadsSection()->umaskField()->setText("022");
  window.ShowOptions(With([](ServerOptions& o) { o.folder = "/srv/boot images"; }));
  EXPECT_FALSE(window.CurrentOptions(&err).has_value());
  EXPECT_NE(err.find("holds a space"), std::string::npos) << err;
  // The lowest block size the server takes is the first one past its default.
  window.ShowOptions(ServerOptions{});
  window.protocolSection()->blockSize()->stepUp();
  EXPECT_EQ(window.CurrentOptions(&err)->block_size, 512u);
}

TEST(MainWindowTest, UmaskTextReadsOctalUpTo0777) {
  const struct {
    const char* text;
    bool ok;
    std::optional<unsigned> umask;
  } cases[] = {{"", true, std::nullopt}, {"  ", true, std::nullopt}, {"022", true, 022u},
               {"0027", true, 027u},     {"777", true, 0777u},       {"0777", true, 0777u},
               {"1000", false, {}},      {"8", false, {}},           {"02 2", false, {}},
               {"-1", false, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<unsigned> umask = 0123;
    EXPECT_EQ(ParseUmask(c.text, &umask), c.ok);
    if (c.ok) {
      EXPECT_EQ(umask, c.umask);
    }
  }
  EXPECT_EQ(UmaskText(022u), "0022");
  EXPECT_EQ(UmaskText(std::nullopt), "");
}

}  // namespace
}  // namespace tftpc
