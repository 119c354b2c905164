#include "tftp-controller/window/status_section.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "tests/desktop/offscreen_application.h"

namespace tftpc {
namespace {

PortHolder Holder(const char* program, pid_t pid, const char* unit, const char* address) {
  PortHolder holder;
  holder.program = program;
  holder.pid = pid;
  holder.systemd_unit = unit;
  holder.local_address = address;
  return holder;
}

TEST(StatusSectionTest, OtherHoldersAreNamedAndTheDistroUnitOffersATakeOver) {
  EXPECT_EQ(OtherHoldersText({}), "");
  const std::vector<PortHolder> distro = {Holder("in.tftpd", 812, "tftpd-hpa.service", "0.0.0.0")};
  EXPECT_EQ(OtherHoldersText(distro),
            "Port 69 is also held by in.tftpd (pid 812, tftpd-hpa.service, on 0.0.0.0).");
  EXPECT_TRUE(DistroUnitHoldsPort(distro));
  const std::vector<PortHolder> two = {Holder("dnsmasq", 90, "", "192.0.2.1"),
                                       Holder("", 0, "", "")};
  EXPECT_EQ(OtherHoldersText(two),
            "Port 69 is also held by dnsmasq (pid 90, on 192.0.2.1); a program of another user.");
  EXPECT_FALSE(DistroUnitHoldsPort(two));
  EXPECT_EQ(LaunchdJobHoldingPort(two), "");
  // A job launchctl loaded: systemd's socket, and the server it started for a request.
  PortHolder socket = Holder("", 0, "", "::");
  PortHolder server = Holder("in.tftpd", 700, "org.qrb.tftp.service", "::");
  for (PortHolder* holder : {&socket, &server}) {
    holder->launchd_label = "org.qrb.tftp";
    holder->launchd_definition = "/etc/qrb-tftp-controller/tftp.plist";
  }
  EXPECT_EQ(OtherHoldersText({socket}),
            "Port 69 is also held by the launchd job org.qrb.tftp "
            "(/etc/qrb-tftp-controller/tftp.plist, on ::).");
  EXPECT_EQ(OtherHoldersText({server}),
            "Port 69 is also held by the launchd job org.qrb.tftp (/etc/qrb-tftp-controller/"
            "tftp.plist, in.tftpd, pid 700, org.qrb.tftp.service, on ::).");
  EXPECT_EQ(LaunchdJobHoldingPort({two[0], server}), "/etc/qrb-tftp-controller/tftp.plist");
  EXPECT_FALSE(DistroUnitHoldsPort({server}));
}

TEST(StatusSectionTest, StatusTextIsTheLabelsDescriptionAndTheButtonsFollowTheService) {
  desktop_testing::OffscreenApplication();
  StatusSection section;
  EXPECT_EQ(section.statusLabel()->accessibleName(), "Status");
  EXPECT_EQ(section.startButton()->accessibleName(), "Start");
  EXPECT_EQ(section.stopButton()->accessibleName(), "Stop");
  EXPECT_EQ(section.restartButton()->accessibleName(), "Restart");

  const struct {
    bool running, enabled;
    std::vector<PortHolder> others;
    const char* text;
    bool start, stop, restart, take_over;
  } states[] = {
      {false, false, {}, "Stopped", true, false, false, false},
      {true, true, {}, "Running on every address, port 69", false, true, true, false},
      // Enabled but not answering (xinetd gone): it can still be stopped.
      {false, true, {}, "Stopped: xinetd does not run", true, true, false, false},
      {false,
       false,
       {Holder("in.tftpd", 7, "tftpd-hpa.service", "0.0.0.0")},
       "Stopped",
       true,
       false,
       false,
       true},
  };
  for (const auto& state : states) {
    SCOPED_TRACE(state.text);
    ServiceStatus status;
    status.running = state.running;
    status.enabled = state.enabled;
    status.others = state.others;
    status.text = state.text;
    section.ShowStatus(status);
    EXPECT_EQ(section.statusLabel()->text(), state.text);
    EXPECT_EQ(section.statusLabel()->accessibleDescription(), state.text);
    EXPECT_EQ(section.startButton()->isEnabled(), state.start);
    EXPECT_EQ(section.stopButton()->isEnabled(), state.stop);
    EXPECT_EQ(section.restartButton()->isEnabled(), state.restart);
    EXPECT_EQ(!section.takeOverButton()->isHidden(), state.take_over);
    // While a call runs nothing can be pressed; afterwards the state's buttons come back.
    section.SetBusy(true, "Starting the service…");
    EXPECT_FALSE(section.startButton()->isEnabled());
    EXPECT_FALSE(section.stopButton()->isEnabled());
    EXPECT_FALSE(section.takeOverButton()->isEnabled());
    section.SetBusy(false);
    EXPECT_EQ(section.startButton()->isEnabled(), state.start);
  }
}

}  // namespace
}  // namespace tftpc
