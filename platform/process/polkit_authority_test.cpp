#include "platform/process/polkit_authority.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace {

// With no system bus to reach (or no library), polkit gives no answer, which is no grant. The
// real daemon is met in tests/polkit_test.cpp.
TEST(PolkitAuthority, NoSystemBusIsNoAnswer) {
  ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qrb-test-bus", 1), 0);
  for (bool interactive : {false, true}) {
    SCOPED_TRACE(interactive);
    std::string why;
    EXPECT_EQ(platform::AskPolkitToRun("/usr/sbin/xinetd", interactive, &why),
              platform::PolkitAnswer::kUnavailable);
    EXPECT_NE(why, "");
  }
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
