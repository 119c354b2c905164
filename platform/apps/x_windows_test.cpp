#include "platform/apps/x_windows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/apps/workspace.h"
#include "tests/as_nobody.h"
#include "tests/desktop/desktop_testing.h"

namespace platform {
namespace {

// Windows made by the test on an X server of its own; the test plays the window manager's part
// where one is needed.
class XWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why_not;
    server_ = desktop_testing::XServer::Start(&why_not);
    if (!server_) GTEST_SKIP() << why_not;
    setenv("DISPLAY", server_->display().c_str(), 1);
    x_ = XConnection::Open();
    ASSERT_NE(x_, nullptr);
  }
  void TearDown() override {
    x_.reset();
    unsetenv("DISPLAY");
  }

  // A top-level window of process `pid`, taking WM_DELETE_WINDOW when `deletable`.
  xcb_window_t Window(std::uint32_t pid, bool deletable, bool mapped) {
    xcb_window_t window = xcb_generate_id(x_->get());
    xcb_create_window(x_->get(), XCB_COPY_FROM_PARENT, window, x_->root(), 0, 0, 50, 50, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    SetValue(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, pid);
    if (deletable) SetValue(window, "WM_PROTOCOLS", XCB_ATOM_ATOM, x_->Atom("WM_DELETE_WINDOW"));
    if (mapped) xcb_map_window(x_->get(), window);
    Sync();
    return window;
  }
  void SetValue(xcb_window_t window, const char* property, xcb_atom_t type, std::uint32_t value) {
    xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, window, x_->Atom(property), type, 32, 1,
                        &value);
    Sync();
  }
  void SetText(xcb_window_t window, const char* property, const std::string& text) {
    xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, window, x_->Atom(property),
                        x_->Atom("UTF8_STRING"), 8, static_cast<std::uint32_t>(text.size()),
                        text.data());
    Sync();
  }
  void Sync() {
    free(xcb_get_input_focus_reply(x_->get(), xcb_get_input_focus(x_->get()), nullptr));
  }

  // The next client message this connection receives (within two seconds).
  std::optional<xcb_client_message_event_t> NextClientMessage() {
    for (int i = 0; i < 100; ++i) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(x_->get())) {
        std::optional<xcb_client_message_event_t> message;
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
          message = *reinterpret_cast<xcb_client_message_event_t*>(event);
        }
        free(event);
        if (message) return message;
      }
      usleep(20000);
    }
    return std::nullopt;
  }

  std::unique_ptr<desktop_testing::XServer> server_;
  std::unique_ptr<XConnection> x_;
};

TEST_F(XWindows, TheActiveWindowTellsItsProcessOrItsApplication) {
  EXPECT_EQ(FindActiveWindow(*x_), std::nullopt);
  xcb_window_t with_pid = Window(4242, true, true);
  xcb_window_t gtk = Window(0, true, true);
  xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, gtk, x_->Atom("_NET_WM_PID"),
                      XCB_ATOM_CARDINAL, 32, 0, nullptr);  // no pid
  SetText(gtk, "_GTK_APPLICATION_ID", "org.example.Gtk");
  xcb_window_t kde = Window(4243, true, true);
  SetText(kde, "_KDE_NET_WM_DESKTOP_FILE", "org.example.Kde");

  SetValue(x_->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, with_pid);
  std::optional<ActiveWindow> active = FindActiveWindow(*x_);
  ASSERT_TRUE(active);
  EXPECT_EQ(active->window, with_pid);
  EXPECT_EQ(active->pid, 4242);
  EXPECT_EQ(active->application_id, std::nullopt);

  SetValue(x_->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, gtk);
  active = FindActiveWindow(*x_);
  ASSERT_TRUE(active);
  EXPECT_EQ(active->pid, std::nullopt);
  EXPECT_EQ(active->application_id, "org.example.Gtk");

  SetValue(x_->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, kde);
  active = FindActiveWindow(*x_);
  ASSERT_TRUE(active);
  EXPECT_EQ(active->application_id, "org.example.Kde");

  SetValue(x_->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, XCB_WINDOW_NONE);
  EXPECT_EQ(FindActiveWindow(*x_), std::nullopt);
}

// The active application: the local process of the active window, else the entry the window
// names. A client of another machine shows the pid it has there.
TEST_F(XWindows, TheActiveApplicationIsTheLocalProcessesOrTheEntryTheWindowNames) {
  const std::string id = "org.qrb.t" + std::to_string(getpid()) + ".Active";
  test_support::ForkedChild local(
      desktop_testing::StartLaunchedSleeper("/x/applications/" + id + ".desktop"));
  ASSERT_GT(local.pid(), 0);
  struct Case {
    const char* machine;    // WM_CLIENT_MACHINE, if any
    const char* kde_entry;  // _KDE_NET_WM_DESKTOP_FILE, if any
    std::optional<std::string> id;
    bool with_pid;
  } cases[] = {
      {nullptr, nullptr, id, true},
      {"elsewhere.invalid", nullptr, std::nullopt, false},
      {"elsewhere.invalid", "org.example.Kde.desktop", "org.example.Kde", false},
      {nullptr, "org.example.Kde", id, true},  // the process tells first
  };
  for (const Case& c : cases) {
    xcb_window_t window = Window(static_cast<std::uint32_t>(local.pid()), true, true);
    if (c.machine) SetText(window, "WM_CLIENT_MACHINE", c.machine);
    if (c.kde_entry) SetText(window, "_KDE_NET_WM_DESKTOP_FILE", c.kde_entry);
    SetValue(x_->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, window);
    std::optional<Dictionary> active = Workspace::activeApplication();
    const std::string* found =
        active ? active->StringFor(kApplicationBundleIdentifierKey) : nullptr;
    EXPECT_EQ(found ? std::optional<std::string>(*found) : std::nullopt, c.id)
        << (c.kde_entry ? c.kde_entry : "no entry") << " on " << (c.machine ? c.machine : "here");
    if (active) {
      EXPECT_EQ(active->IntegerFor(kApplicationProcessIdentifierKey).has_value(), c.with_pid);
    }
  }
}

TEST_F(XWindows, WithoutAWindowManagerCloseRequestsGoToTheWindowsThatTakeThem) {
  xcb_window_t ours = Window(4242, true, true);
  xcb_window_t other_process = Window(4243, true, true);
  xcb_window_t no_protocol = Window(4242, false, true);
  xcb_window_t unmapped = Window(4242, true, false);
  // A client of another machine (ssh -X) whose pid only happens to be one of ours.
  xcb_window_t remote = Window(4242, true, true);
  SetText(remote, "WM_CLIENT_MACHINE", "elsewhere.invalid");
  (void)other_process, (void)no_protocol, (void)unmapped;
  EXPECT_FALSE(WindowManagerRuns(*x_));
  std::vector<xcb_window_t> windows = TopLevelWindowsOf(*x_, {4242, 1});
  EXPECT_EQ(windows, std::vector<xcb_window_t>{ours});
  EXPECT_TRUE(TopLevelWindowsOf(*x_, {}).empty());

  RequestClose(*x_, windows);
  std::optional<xcb_client_message_event_t> message = NextClientMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->window, ours);
  EXPECT_EQ(message->type, x_->Atom("WM_PROTOCOLS"));
  EXPECT_EQ(message->data.data32[0], x_->Atom("WM_DELETE_WINDOW"));
}

TEST_F(XWindows, WithAWindowManagerCloseRequestsGoThroughIt) {
  // The test is the window manager: its check window, its client list, and the root's
  // redirected requests.
  xcb_window_t check = Window(0, false, false);
  SetValue(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, check);
  SetValue(x_->root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, check);
  std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
  xcb_change_window_attributes(x_->get(), x_->root(), XCB_CW_EVENT_MASK, &mask);
  xcb_window_t managed = Window(4242, false, false);  // iconified: unmapped, still a client
  xcb_window_t stray = Window(4242, true, false);
  (void)stray;
  SetValue(x_->root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, managed);
  ASSERT_TRUE(WindowManagerRuns(*x_));
  std::vector<xcb_window_t> windows = TopLevelWindowsOf(*x_, {4242});
  EXPECT_EQ(windows, std::vector<xcb_window_t>{managed});

  RequestClose(*x_, windows);
  std::optional<xcb_client_message_event_t> message = NextClientMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->type, x_->Atom("_NET_CLOSE_WINDOW"));
  EXPECT_EQ(message->window, managed);

  // A check window that does not name itself is a manager gone away.
  SetValue(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, XCB_WINDOW_NONE);
  EXPECT_FALSE(WindowManagerRuns(*x_));
}

}  // namespace
}  // namespace platform
