// Registered message numbers and hidden message windows.
#include <QIcon>
#include <QMetaObject>
#include <QObject>
#include <map>
#include <mutex>

#include "platform/shell/shell.h"

namespace shell {

namespace {

std::mutex g_namesLock;
std::map<QString, UINT>& registeredNames() {
  static std::map<QString, UINT> names;
  return names;
}

// Live message windows by handle. Only the user-interface thread creates
// and destroys windows and posts to them.
std::map<std::uint32_t, MessageWindow*>& windows() {
  static std::map<std::uint32_t, MessageWindow*> w;
  return w;
}
std::uint32_t g_nextWindow = 0x10000;

}  // namespace

UINT RegisterWindowMessageA(const char* name) {
  if (!name || !*name) return 0;
  const QString key = QString::fromUtf8(name).toCaseFolded();
  std::lock_guard<std::mutex> lock(g_namesLock);
  auto& names = registeredNames();
  if (auto it = names.find(key); it != names.end()) return it->second;
  const UINT next = kFirstRegisteredMessage + UINT(names.size());
  if (next > kLastRegisteredMessage) return 0;  // the range is used up
  names.emplace(key, next);
  return next;
}

MessageWindow::MessageWindow(WndProc proc)
    : receiver_(std::make_unique<QObject>()), proc_(std::move(proc)), handle_(HWND(g_nextWindow++)) {
  windows()[std::uint32_t(handle_)] = this;
}

MessageWindow::~MessageWindow() { windows().erase(std::uint32_t(handle_)); }

bool IsWindow(HWND hWnd) { return windows().count(std::uint32_t(hWnd)) != 0; }

BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const auto it = windows().find(std::uint32_t(hWnd));
  if (it == windows().end()) return 0;
  MessageWindow* w = it->second;
  // The receiver is the context: when the window is destroyed first, Qt
  // drops the queued call, so a late message never reaches a dead window.
  QMetaObject::invokeMethod(
      w->receiver_.get(),
      [w, hWnd, msg, wParam, lParam] {
        // A copy, so a procedure that destroys its own window returns safely.
        const MessageWindow::WndProc proc = w->proc_;
        if (proc) proc(hWnd, msg, wParam, lParam);
      },
      Qt::QueuedConnection);
  return 1;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

// ---------------------------------------------------------------- icons

namespace {
std::map<std::uint32_t, const Icon*>& icons() {
  static std::map<std::uint32_t, const Icon*> i;
  return i;
}
std::uint32_t g_nextIcon = 0x20000;
}  // namespace

Icon::Icon() : icon_(std::make_unique<QIcon>()), handle_(HICON(g_nextIcon++)) {
  icons()[std::uint32_t(handle_)] = this;
}

Icon::~Icon() { icons().erase(std::uint32_t(handle_)); }

void Icon::assign(const QIcon& icon) {
  if (&icon == icon_.get()) return;
  *icon_ = icon;
}

const QIcon& Icon::icon() const { return *icon_; }
bool Icon::empty() const { return icon_->isNull(); }
HICON Icon::handle() const { return empty() ? HICON(0) : handle_; }

QIcon iconFromHandle(HICON h) {
  const auto it = icons().find(std::uint32_t(h));
  return it == icons().end() ? QIcon() : it->second->icon();
}

}  // namespace shell
