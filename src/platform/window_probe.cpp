#include "platform/window_probe.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace px::platform {

namespace {

class X11WindowProbe final : public WindowProbe {
public:
  explicit X11WindowProbe(xcb_connection_t* c, xcb_window_t root) : c_(c), root_(root) {
    clientList_ = atom("_NET_CLIENT_LIST");
    wmPid_ = atom("_NET_WM_PID");
    wmName_ = atom("_NET_WM_NAME");
    utf8_ = atom("UTF8_STRING");
    active_ = atom("_NET_ACTIVE_WINDOW");
  }
  ~X11WindowProbe() override { xcb_disconnect(c_); }

  std::uint32_t FindWindow(pid_t pid, const std::vector<std::string>& titleHints) override {
    const std::vector<xcb_window_t> windows = topLevel();
    if (pid > 0)
      for (xcb_window_t w : windows)
        if (cardinal(w, wmPid_) == static_cast<std::uint32_t>(pid)) return w;
    std::vector<std::string> titles;
    titles.reserve(windows.size());
    for (xcb_window_t w : windows) titles.push_back(title(w));
    for (const std::string& hint : titleHints) {
      if (hint.empty()) continue;
      for (std::size_t i = 0; i < windows.size(); ++i)
        if (titles[i].find(hint) != std::string::npos) return windows[i];
    }
    return 0;
  }

  bool WindowExists(std::uint32_t window) override {
    xcb_generic_error_t* err = nullptr;
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), &err);
    std::free(err);
    if (!r) return false;
    const bool viewable = r->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(r);
    // A window that is neither shown nor titled counts as closed.
    return viewable || !title(window).empty();
  }

  void Activate(std::uint32_t window) override {
    if (!active_) return;
    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = active_;
    ev.data.data32[0] = 2;  // from a pager-like tool: the window manager should obey
    xcb_send_event(c_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c_);
  }

private:
  xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
    std::free(r);
    return a;
  }

  // The window manager's client list; without a window manager, the root's children.
  std::vector<xcb_window_t> topLevel() {
    std::vector<xcb_window_t> out;
    if (clientList_) {
      xcb_get_property_reply_t* r = xcb_get_property_reply(
          c_, xcb_get_property(c_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 65536), nullptr);
      if (r && r->format == 32) {
        const auto* w = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
        out.assign(w, w + xcb_get_property_value_length(r) / 4);
      }
      std::free(r);
    }
    if (!out.empty()) return out;
    xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
    if (t) {
      const xcb_window_t* w = xcb_query_tree_children(t);
      out.assign(w, w + xcb_query_tree_children_length(t));
      std::free(t);
    }
    return out;
  }

  std::uint32_t cardinal(xcb_window_t w, xcb_atom_t prop) {
    if (!prop) return 0;
    xcb_get_property_reply_t* r =
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, prop, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::uint32_t v = 0;
    if (r && r->format == 32 && xcb_get_property_value_length(r) >= 4)
      std::memcpy(&v, xcb_get_property_value(r), 4);
    std::free(r);
    return v;
  }

  std::string text(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type) {
    xcb_get_property_reply_t* r = xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, prop, type, 0, 4096), nullptr);
    std::string s;
    if (r && r->format == 8)
      s.assign(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
    std::free(r);
    return s;
  }

  std::string title(xcb_window_t w) {
    std::string t = wmName_ && utf8_ ? text(w, wmName_, utf8_) : std::string();
    return t.empty() ? text(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING) : t;
  }

  xcb_connection_t* c_;
  xcb_window_t root_;
  xcb_atom_t clientList_ = 0, wmPid_ = 0, wmName_ = 0, utf8_ = 0, active_ = 0;
};

}  // namespace

std::unique_ptr<WindowProbe> MakeSystemWindowProbe() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(display, &screenNumber);
  if (!c || xcb_connection_has_error(c)) {
    if (c) xcb_disconnect(c);
    return nullptr;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(c);
    return nullptr;
  }
  return std::make_unique<X11WindowProbe>(c, it.data->root);
}

}  // namespace px::platform
