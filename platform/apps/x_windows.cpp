#include "platform/apps/x_windows.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

template <typename T>
struct FreeReply {
  void operator()(T* reply) const { free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply<T>>;

constexpr std::uint32_t kMaxPropertyWords = 1 << 16;

}  // namespace

std::unique_ptr<XConnection> XConnection::Open() {
  const char* display = getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  int screen_number = 0;
  xcb_connection_t* connection = xcb_connect(display, &screen_number);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return nullptr;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) {
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<XConnection>(new XConnection(connection, screens.data->root));
}

XConnection::~XConnection() {
  xcb_disconnect(connection_);
}

xcb_atom_t XConnection::Atom(const char* name) {
  Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(strlen(name)), name),
      nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::vector<std::uint32_t> XConnection::Values(xcb_window_t window, xcb_atom_t property,
                                               xcb_atom_t type) {
  std::vector<std::uint32_t> values;
  if (property == XCB_ATOM_NONE) return values;
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, window, property, type, 0, kMaxPropertyWords),
      nullptr));
  if (!reply || reply->type != type || reply->format != 32) return values;
  auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  int count = xcb_get_property_value_length(reply.get()) / 4;
  values.assign(data, data + count);
  return values;
}

std::optional<std::uint32_t> XConnection::Value(xcb_window_t window, xcb_atom_t property,
                                                xcb_atom_t type) {
  std::vector<std::uint32_t> values = Values(window, property, type);
  if (values.empty()) return std::nullopt;
  return values.front();
}

std::optional<std::string> XConnection::Text(xcb_window_t window, xcb_atom_t property) {
  if (property == XCB_ATOM_NONE) return std::nullopt;
  Reply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection_,
                             xcb_get_property(connection_, 0, window, property,
                                              XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyWords),
                             nullptr));
  if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) return std::nullopt;
  const char* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
  std::string text(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  // A text property may end with a NUL.
  if (std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

std::optional<ActiveWindow> FindActiveWindow(XConnection& x) {
  std::optional<std::uint32_t> window =
      x.Value(x.root(), x.Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
  if (!window || *window == XCB_WINDOW_NONE) return std::nullopt;
  ActiveWindow active;
  active.window = *window;
  std::optional<std::uint32_t> pid = x.Value(*window, x.Atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
  if (pid && *pid > 0 && *pid <= static_cast<std::uint32_t>(INT32_MAX)) {
    active.pid = static_cast<pid_t>(*pid);
  }
  active.application_id = x.Text(*window, x.Atom("_GTK_APPLICATION_ID"));
  if (!active.application_id) {
    active.application_id = x.Text(*window, x.Atom("_KDE_NET_WM_DESKTOP_FILE"));
  }
  return active;
}

bool ClientRunsHere(XConnection& x, xcb_window_t window) {
  std::optional<std::string> machine = x.Text(window, XCB_ATOM_WM_CLIENT_MACHINE);
  if (!machine) return true;
  char host[256] = {};
  return gethostname(host, sizeof host - 1) == 0 && *machine == host;
}

bool WindowManagerRuns(XConnection& x) {
  xcb_atom_t check = x.Atom("_NET_SUPPORTING_WM_CHECK");
  std::optional<std::uint32_t> window = x.Value(x.root(), check, XCB_ATOM_WINDOW);
  return window && *window != XCB_WINDOW_NONE && x.Value(*window, check, XCB_ATOM_WINDOW) == window;
}

std::vector<xcb_window_t> TopLevelWindowsOf(XConnection& x, const std::set<pid_t>& pids) {
  std::vector<xcb_window_t> found;
  if (pids.empty()) return found;
  xcb_atom_t wm_pid = x.Atom("_NET_WM_PID");
  bool managed = WindowManagerRuns(x);
  std::vector<xcb_window_t> candidates;
  if (managed) {
    candidates = x.Values(x.root(), x.Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
  } else {
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.get(), xcb_query_tree(x.get(), x.root()), nullptr));
    if (!tree) return found;
    xcb_window_t* children = xcb_query_tree_children(tree.get());
    candidates.assign(children, children + xcb_query_tree_children_length(tree.get()));
  }
  xcb_atom_t protocols = x.Atom("WM_PROTOCOLS");
  xcb_atom_t delete_window = x.Atom("WM_DELETE_WINDOW");
  for (xcb_window_t window : candidates) {
    std::optional<std::uint32_t> pid = x.Value(window, wm_pid, XCB_ATOM_CARDINAL);
    if (!pid || *pid > static_cast<std::uint32_t>(INT32_MAX) ||
        pids.count(static_cast<pid_t>(*pid)) == 0 || !ClientRunsHere(x, window)) {
      continue;
    }
    if (!managed) {
      Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
          x.get(), xcb_get_window_attributes(x.get(), window), nullptr));
      if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
      std::vector<std::uint32_t> taken = x.Values(window, protocols, XCB_ATOM_ATOM);
      bool takes_delete = false;
      for (std::uint32_t atom : taken) takes_delete = takes_delete || atom == delete_window;
      if (!takes_delete) continue;
    }
    found.push_back(window);
  }
  return found;
}

void RequestClose(XConnection& x, const std::vector<xcb_window_t>& windows) {
  if (windows.empty()) return;
  bool managed = WindowManagerRuns(x);
  xcb_atom_t net_close = x.Atom("_NET_CLOSE_WINDOW");
  xcb_atom_t protocols = x.Atom("WM_PROTOCOLS");
  xcb_atom_t delete_window = x.Atom("WM_DELETE_WINDOW");
  for (xcb_window_t window : windows) {
    xcb_client_message_event_t event;
    memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    if (managed) {
      event.type = net_close;
      event.data.data32[0] = XCB_CURRENT_TIME;
      event.data.data32[1] = 2;  // the request comes from a pager, for the user
      xcb_send_event(x.get(), 0, x.root(),
                     XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                     reinterpret_cast<const char*>(&event));
    } else {
      event.type = protocols;
      event.data.data32[0] = delete_window;
      event.data.data32[1] = XCB_CURRENT_TIME;
      xcb_send_event(x.get(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                     reinterpret_cast<const char*>(&event));
    }
  }
  // A round trip: the server has taken every request before we return.
  free(xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));
}

}  // namespace platform
