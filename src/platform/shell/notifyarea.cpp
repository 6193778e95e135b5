// Shell_NotifyIconA over QSystemTrayIcon: one Qt tray icon per (hWnd, uID).
#include <QApplication>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/shell/shell.h"

#include <xcb/xcb.h>

namespace shell {

int mouseMessagesFor(int reason, UINT out[2]) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      out[0] = WM_LBUTTONUP;
      return 1;
    case QSystemTrayIcon::DoubleClick:
      // Qt swallows the second click into the double click; the original
      // shell reports it as a double-click message and a button release.
      out[0] = WM_LBUTTONDBLCLK;
      out[1] = WM_LBUTTONUP;
      return 2;
    case QSystemTrayIcon::Context:
      out[0] = WM_RBUTTONUP;
      return 1;
    case QSystemTrayIcon::MiddleClick:
      out[0] = WM_MBUTTONUP;
      return 1;
    default:
      return 0;
  }
}

namespace {

// On X11 Qt shows a tray icon in a small window of its own that the tray
// host embeds and maps. Until the host has done so, QSystemTrayIcon already
// reports a geometry: the unmapped window's, at the screen's origin, where
// a click lands on whatever is there instead. Mapped is not enough either:
// the host maps the icon before its own panel, and the pointer only reaches
// the icon once every window above it is mapped too (viewable).
bool viewable(const QWidget* w) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return false;
  xcb_connection_t* c = x11->connection();
  xcb_get_window_attributes_reply_t* a =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, xcb_window_t(w->winId())), nullptr);
  const bool yes = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
  std::free(a);
  return yes;
}

bool shownByTheHost(const QRect& where) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->inherits("QSystemTrayIconSys")) continue;
    const QWindow* window = w->windowHandle();
    if (window && window->isExposed() && QRect(w->mapToGlobal(QPoint(0, 0)), w->size()) == where && viewable(w))
      return true;
  }
  return false;
}

QString tipText(const NOTIFYICONDATA& d) {
  return QString::fromUtf8(d.szTip, int(strnlen(d.szTip, sizeof d.szTip)));
}

class QtNotifyArea final : public NotifyArea {
 public:
  BOOL notify(DWORD message, const NOTIFYICONDATA& d) override {
    const Key key{std::uint32_t(d.hWnd), d.uID};
    auto it = icons_.find(key);
    switch (message) {
      case NIM_ADD: {
        if (it != icons_.end()) return 0;  // already there, as the shell refuses it
        Entry e;
        e.tray = std::make_unique<QSystemTrayIcon>();
        QSystemTrayIcon* tray = e.tray.get();
        const HWND hWnd = d.hWnd;
        const UINT id = d.uID;
        QObject::connect(tray, &QSystemTrayIcon::activated, tray, [this, key, hWnd, id](auto reason) {
          const auto found = icons_.find(key);
          if (found == icons_.end() || !found->second.callback) return;
          UINT msgs[2];
          const int n = mouseMessagesFor(int(reason), msgs);
          for (int i = 0; i < n; ++i) PostMessageA(hWnd, found->second.callback, WPARAM(id), LPARAM(msgs[i]));
        });
        apply(e, d);
        tray->show();
        icons_.emplace(key, std::move(e));
        // Without a tray host the icon is kept and shows when one appears,
        // but the caller is told the shell did not take it.
        return QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0;
      }
      case NIM_MODIFY:
        if (it == icons_.end()) return 0;
        apply(it->second, d);
        return 1;
      case NIM_DELETE:
        if (it == icons_.end()) return 0;
        it->second.tray->hide();
        icons_.erase(it);
        return 1;
      default:
        return 0;
    }
  }

 private:
  using Key = std::pair<std::uint32_t, UINT>;
  struct Entry {
    std::unique_ptr<QSystemTrayIcon> tray;
    UINT callback = 0;
  };

  static void apply(Entry& e, const NOTIFYICONDATA& d) {
    if (d.uFlags & NIF_MESSAGE) e.callback = d.uCallbackMessage;
    if (d.uFlags & NIF_ICON) e.tray->setIcon(iconFromHandle(d.hIcon));
    if (d.uFlags & NIF_TIP) e.tray->setToolTip(tipText(d));
  }

  std::map<Key, Entry> icons_;

 public:
  QRect geometry(HWND hWnd, UINT id) const {
    const auto it = icons_.find(Key{std::uint32_t(hWnd), id});
    if (it == icons_.end() || !it->second.tray->isVisible()) return {};
    const QRect where = it->second.tray->geometry();
    return shownByTheHost(where) ? where : QRect();
  }
};

NotifyArea* g_area = nullptr;

QtNotifyArea& realArea() {
  // Lives until the end of the process, so icons still shown at exit go
  // when the application object takes the tray connection down.
  static QtNotifyArea* area = new QtNotifyArea;
  return *area;
}

}  // namespace

QRect notifyIconGeometry(HWND hWnd, UINT uID) {
  return realArea().geometry(hWnd, uID);
}

NotifyArea* setNotifyArea(NotifyArea* area) { return std::exchange(g_area, area); }

BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATA* data) {
  if (!data || data->cbSize != sizeof(NOTIFYICONDATA)) return 0;
  return (g_area ? *g_area : realArea()).notify(message, *data);
}

}  // namespace shell
