#include "platform/window/windows.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include "platform/window/display.h"

namespace wnd {

namespace {

// The root's child that holds w: the window manager's frame around a
// client, or the client itself where nothing reparents it. 0 if w is gone.
xcb_window_t topLevelAncestor(Display& d, xcb_window_t w) {
  for (int depth = 0; depth < 64 && w != XCB_WINDOW_NONE; ++depth) {
    XcbPtr<xcb_query_tree_reply_t> t(xcb_query_tree_reply(d.conn(), xcb_query_tree(d.conn(), w), nullptr));
    if (!t) return XCB_WINDOW_NONE;
    if (t->parent == t->root || t->parent == XCB_WINDOW_NONE) return w;
    w = t->parent;
  }
  return XCB_WINDOW_NONE;
}

// The first value of a 32-bit property, or empty when it is not set.
std::optional<std::uint32_t> cardinalProperty(Display& d, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                                              std::uint32_t* more = nullptr, int moreCount = 0) {
  if (prop == XCB_ATOM_NONE) return std::nullopt;
  XcbPtr<xcb_get_property_reply_t> r(xcb_get_property_reply(
      d.conn(), xcb_get_property(d.conn(), 0, w, prop, type, 0, 1 + moreCount), nullptr));
  if (!r || r->type != type || r->format != 32) return std::nullopt;
  const int n = xcb_get_property_value_length(r.get()) / 4;
  if (n < 1 + moreCount) return std::nullopt;
  const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
  for (int i = 0; i < moreCount; ++i) more[i] = v[1 + i];
  return v[0];
}

// Whether the window is mapped and shown: a window manager may keep naming
// a window as active for a moment after it was hidden.
bool viewable(Display& d, xcb_window_t w) {
  XcbPtr<xcb_get_window_attributes_reply_t> a(
      xcb_get_window_attributes_reply(d.conn(), xcb_get_window_attributes(d.conn(), w), nullptr));
  return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

}  // namespace

HWND GetForegroundWindow() { return GetForegroundWindow(Display::instance()); }

HWND GetForegroundWindow(Display& d) {
  const auto active = cardinalProperty(d, d.root(), d.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
  if (active) return *active == d.root() || !viewable(d, *active) ? 0 : *active;

  // No window manager publishes the active window: the input focus tells,
  // once taken up to the top level (a focused child widget, say).
  XcbPtr<xcb_get_input_focus_reply_t> f(
      xcb_get_input_focus_reply(d.conn(), xcb_get_input_focus(d.conn()), nullptr));
  if (!f || f->focus == XCB_WINDOW_NONE || f->focus == XCB_INPUT_FOCUS_POINTER_ROOT || f->focus == d.root())
    return 0;
  return topLevelAncestor(d, f->focus);
}

std::optional<FrameExtents> GetFrameExtents(HWND w) { return GetFrameExtents(Display::instance(), w); }

std::optional<FrameExtents> GetFrameExtents(Display& d, HWND w) {
  if (w == 0) return std::nullopt;
  std::uint32_t rest[3] = {};
  const auto left = cardinalProperty(d, w, d.atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, rest, 3);
  d.drainEvents();
  if (!left) return std::nullopt;
  return FrameExtents{int(*left), int(rest[0]), int(rest[1]), int(rest[2])};
}

std::optional<RECT> GetWindowRect(HWND w) { return GetWindowRect(Display::instance(), w); }

std::optional<RECT> GetWindowRect(Display& d, HWND w) {
  if (w == 0) return std::nullopt;
  xcb_connection_t* c = d.conn();
  // Asked together: one round trip instead of three. A vanished window
  // answers each with an error reply, which is freed here, not raised.
  auto geoCookie = xcb_get_geometry(c, w);
  auto posCookie = xcb_translate_coordinates(c, w, d.root(), 0, 0);
  XcbPtr<xcb_get_geometry_reply_t> geo(xcb_get_geometry_reply(c, geoCookie, nullptr));
  XcbPtr<xcb_translate_coordinates_reply_t> pos(xcb_translate_coordinates_reply(c, posCookie, nullptr));
  if (!geo || !pos) return std::nullopt;
  if (w == d.root()) return RECT{0, 0, d.width(), d.height()};

  // A window manager that publishes its frame widths gives the frame the
  // user sees (without the invisible resize borders some add around it).
  if (const auto ext = GetFrameExtents(d, w)) {
    const int x = pos->dst_x, y = pos->dst_y;
    return RECT{x - ext->left, y - ext->top, x + geo->width + ext->right, y + geo->height + ext->bottom};
  }
  // Otherwise the top-level ancestor is the frame (or the window itself),
  // its border included.
  const xcb_window_t top = topLevelAncestor(d, w);
  if (top == XCB_WINDOW_NONE) return std::nullopt;
  XcbPtr<xcb_get_geometry_reply_t> tg(xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr));
  if (!tg) return std::nullopt;
  const int b = 2 * tg->border_width;
  return RECT{tg->x, tg->y, tg->x + tg->width + b, tg->y + tg->height + b};
}

void RaiseWithoutActivating(HWND w) {
  if (w == 0) return;
  Display& d = Display::instance();
  // A stacking request goes to the window manager, which restacks the
  // frame; unlike _NET_ACTIVE_WINDOW it does not hand over the focus.
  const std::uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(d.conn(), w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  xcb_flush(d.conn());
  d.drainEvents();
}

bool IsViewable(HWND w) {
  if (w == 0) return false;
  Display& d = Display::instance();
  XcbPtr<xcb_get_window_attributes_reply_t> a(
      xcb_get_window_attributes_reply(d.conn(), xcb_get_window_attributes(d.conn(), w), nullptr));
  return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool AwaitHidden(HWND w, int timeoutMs) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection() || w == 0) return true;
  // A reply on the toolkit's own connection: every request sent before it,
  // the unmap among them, has been done.
  xcb_connection_t* toolkit = x11->connection();
  XcbPtr<xcb_get_input_focus_reply_t> done(
      xcb_get_input_focus_reply(toolkit, xcb_get_input_focus(toolkit), nullptr));
  // The window manager takes its frame away when it sees the unmap, a
  // moment later; until then the frame still covers the window's place.
  Display& d = Display::instance();
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    const xcb_window_t top = topLevelAncestor(d, w);
    if (!viewable(d, w) && (top == XCB_WINDOW_NONE || top == w || !viewable(d, top))) return true;
    if (waited.elapsed() >= timeoutMs) return false;
    QThread::msleep(5);
  }
}

void KeepAbove(HWND w) {
  if (w == 0) return;
  Display& d = Display::instance();
  // A mapped window's state is the window manager's: it is asked by a
  // message to the root window, not by writing the property.
  xcb_client_message_event_t ev{};
  ev.response_type = XCB_CLIENT_MESSAGE;
  ev.format = 32;
  ev.window = w;
  ev.type = d.atom("_NET_WM_STATE");
  ev.data.data32[0] = 1;  // _NET_WM_STATE_ADD
  ev.data.data32[1] = d.atom("_NET_WM_STATE_ABOVE");
  ev.data.data32[2] = 0;
  ev.data.data32[3] = 1;  // asked by an application
  xcb_send_event(d.conn(), 0, d.root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&ev));
  xcb_flush(d.conn());
  d.drainEvents();
}

}  // namespace wnd
