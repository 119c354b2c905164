// The X window system as the desktop layer needs it: the active window, the top-level windows
// of processes, and close requests to them.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// A connection to the X server of $DISPLAY, closed at destruction.
class XConnection {
 public:
  // null when there is no X server to reach (no DISPLAY: a Wayland-only session, or none).
  static std::unique_ptr<XConnection> Open();
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  xcb_window_t root() const { return root_; }

  // The atom of a name (XCB_ATOM_NONE when the server cannot make it).
  xcb_atom_t Atom(const char* name);
  // A property's 32-bit values (windows, cardinals, atoms) and texts.
  std::vector<std::uint32_t> Values(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
  std::optional<std::uint32_t> Value(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
  std::optional<std::string> Text(xcb_window_t window, xcb_atom_t property);

 private:
  XConnection(xcb_connection_t* connection, xcb_window_t root)
      : connection_(connection), root_(root) {}
  xcb_connection_t* connection_;
  xcb_window_t root_;
};

// The window the window manager names active, and what it tells of its application.
struct ActiveWindow {
  xcb_window_t window = XCB_WINDOW_NONE;
  std::optional<pid_t> pid;                   // _NET_WM_PID
  std::optional<std::string> application_id;  // _GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE
};
std::optional<ActiveWindow> FindActiveWindow(XConnection& x);

// False when the window's client names another machine (WM_CLIENT_MACHINE): its _NET_WM_PID
// is then no pid of ours. A client that names none is taken to run here.
bool ClientRunsHere(XConnection& x, xcb_window_t window);

// True when an EWMH window manager runs (its check window names itself).
bool WindowManagerRuns(XConnection& x);

// The top-level windows of clients on this machine whose _NET_WM_PID is one of `pids`: the
// window manager's client list when one runs, else the root's viewable children that take
// WM_DELETE_WINDOW.
std::vector<xcb_window_t> TopLevelWindowsOf(XConnection& x, const std::set<pid_t>& pids);

// Asks each window to close as its close button does: _NET_CLOSE_WINDOW to the root window
// when a window manager runs, else WM_DELETE_WINDOW to the window itself. The application may
// ask to save, or refuse. Returns once the requests have reached the server.
void RequestClose(XConnection& x, const std::vector<xcb_window_t>& windows);

}  // namespace platform
