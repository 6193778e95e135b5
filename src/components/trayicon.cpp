#include "components/trayicon.h"

#include <QCursor>
#include <QMenu>
#include <algorithm>
#include <cstring>

#include "framework/application.h"
#include "framework/timer.h"

namespace components {

using namespace shell;

namespace {
UINT g_toolTrayIcon = 0;
UINT g_resetToolTip = 0;
}  // namespace

UINT TrayIcon::toolTrayIconMessage() { return g_toolTrayIcon; }
UINT TrayIcon::resetToolTipMessage() { return g_resetToolTip; }

TrayIcon::TrayIcon(QObject* owner, const QString& name) : QObject(owner) {
  setObjectName(name);
  window_ = std::make_unique<MessageWindow>(
      [this](HWND h, UINT m, WPARAM w, LPARAM l) { return wndProc(h, m, w, l); });
  // Registered again by every instance; the numbers stay the same.
  g_toolTrayIcon = RegisterWindowMessageA("WM_TOOLTRAYICON");
  g_resetToolTip = RegisterWindowMessageA("WM_RESETTOOLTIP");
  timer_ = new framework::Timer(this, name + QStringLiteral("Animation"), animateInterval_, false);
  timer_->OnTimer = [this] { animationTick(); };
}

TrayIcon::~TrayIcon() {
  if (active_) remove();
  QObject::disconnect(imagesGone_);
  QObject::disconnect(menuGone_);
}

// ---------------------------------------------------------------- properties

void TrayIcon::setActive(bool on) {
  if (on == active_) return;
  active_ = on;
  // The shell's answer is not acted on: Active stays as assigned.
  if (on)
    add();
  else
    remove();
}

void TrayIcon::setAnimate(bool on) {
  if (on == animate_) return;
  if (on) {
    const ImageList* list = images_.data();
    if (!list || list->Count() == 0 || !active_) return;
    savedIcon_.assign(icon_.icon());
    imageIndex_ = 0;
    animate_ = true;
    timer_->setEnabled(true);
  } else {
    animate_ = false;
    timer_->setEnabled(false);
    setIcon(savedIcon_.icon());
  }
}

void TrayIcon::setAnimateInterval(int ms) {
  if (ms <= 0) return;
  animateInterval_ = ms;
  timer_->setInterval(ms);
}

void TrayIcon::setIcon(const QIcon& icon) {
  if (&icon == &icon_.icon()) return;
  icon_.assign(icon);
  modify(NIF_ICON);
}

void TrayIcon::setImages(ImageList* list) {
  if (list == images_) return;
  QObject::disconnect(imagesGone_);
  images_ = list;
  if (list) imagesGone_ = connect(list, &QObject::destroyed, this, [this] { forgetImages(); });
}

void TrayIcon::forgetImages() {
  setAnimate(false);
  images_ = nullptr;
}

void TrayIcon::setToolTip(const QString& tip) {
  toolTip_ = tip.left(kMaxToolTip);
  modify(NIF_ICON | NIF_TIP);
}

void TrayIcon::setPopupMenu(QMenu* menu) {
  if (menu == popupMenu_) return;
  QObject::disconnect(menuGone_);
  popupMenu_ = menu;
  if (menu) menuGone_ = connect(menu, &QObject::destroyed, this, [this] { popupMenu_ = nullptr; });
}

// ---------------------------------------------------------------- the shell

void TrayIcon::fill(UINT parts) {
  iconData_.cbSize = sizeof(NOTIFYICONDATA);
  iconData_.hWnd = window_->handle();
  iconData_.uID = 0;
  iconData_.uFlags = parts;
  if (parts & NIF_MESSAGE) iconData_.uCallbackMessage = g_toolTrayIcon;
  if (parts & NIF_ICON) iconData_.hIcon = icon_.handle();
  if (parts & NIF_TIP) {
    // At most 63 bytes and the terminating zero, never half a character.
    const QByteArray utf8 = toolTip_.toUtf8();
    int n = std::min<int>(int(utf8.size()), int(sizeof iconData_.szTip) - 1);
    while (n > 0 && n < utf8.size() && (uchar(utf8[n]) & 0xC0) == 0x80) --n;
    std::memset(iconData_.szTip, 0, sizeof iconData_.szTip);
    std::memcpy(iconData_.szTip, utf8.constData(), size_t(n));
  }
}

bool TrayIcon::add() {
  fill(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  const bool ok = Shell_NotifyIconA(NIM_ADD, &iconData_) != 0;
  if (toolTip_.isEmpty()) PostMessageA(window_->handle(), g_resetToolTip, 0, 0);
  return ok;
}

bool TrayIcon::modify(UINT parts) {
  if (!active_) return false;
  fill(parts);
  return Shell_NotifyIconA(NIM_MODIFY, &iconData_) != 0;
}

bool TrayIcon::remove() { return Shell_NotifyIconA(NIM_DELETE, &iconData_) != 0; }

// ---------------------------------------------------------------- messages

LRESULT TrayIcon::wndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == g_resetToolTip) {
    setToolTip(toolTip_);
    return 0;
  }
  if (msg == g_toolTrayIcon) {
    switch (UINT(l)) {
      case WM_LBUTTONUP:
        if (OnClick) OnClick(this);
        break;
      case WM_LBUTTONDBLCLK:
        if (OnDblClick) OnDblClick(this);
        break;
      case WM_RBUTTONUP:
        rightClick();
        break;
      default:
        break;
    }
    return 0;
  }
  return DefWindowProcA(h, msg, w, l);
}

void TrayIcon::rightClick() {
  const QPoint pos = QCursor::pos();
  if (popupMenu_) {
    // Pending messages run first, as they did before the menu on the
    // original desktop; the menu or this icon may be gone afterwards.
    QPointer<TrayIcon> self(this);
    framework::ProcessMessages();
    if (!self) return;
    if (popupMenu_) {
      QPointer<QMenu> menu(popupMenu_);
      menu->exec(pos);
      if (!self) return;
    }
  }
  if (OnRightClick) OnRightClick(this, MouseButton::mbRight, 0, pos.x(), pos.y());
}

void TrayIcon::animationTick() {
  // The list may have shrunk since the last tick, even to nothing.
  const ImageList* list = images_.data();
  if (!list) return;
  const int count = list->Count();
  if (count == 0) return;
  if (imageIndex_ >= count - 1)
    imageIndex_ = 0;
  else
    ++imageIndex_;
  setIcon(list->GetIcon(imageIndex_));
}

}  // namespace components
