#pragma once
// The notification-area icon component: one icon in the desktop's tray,
// kept up to date as its icon and tooltip change, mouse actions on it
// turned into events, an optional popup menu and an optional animation
// over an image list.
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <functional>
#include <memory>

#include "platform/shell/shell.h"

namespace framework {
class Timer;
}

namespace components {

// A list of images (the animation frames of a tray icon).
class ImageList : public QObject {
  Q_OBJECT
 public:
  explicit ImageList(QObject* owner = nullptr) : QObject(owner) {}
  int Count() const { return int(images_.size()); }
  void Add(const QIcon& icon) { images_.append(icon); }
  void Delete(int index) {
    if (index >= 0 && index < Count()) images_.removeAt(index);
  }
  void Clear() { images_.clear(); }
  // The image at index as an icon; a null icon outside the list.
  QIcon GetIcon(int index) const { return index >= 0 && index < Count() ? images_[index] : QIcon(); }

 private:
  QList<QIcon> images_;
};

enum class MouseButton { mbLeft, mbRight, mbMiddle };
using ShiftState = unsigned;  // no shift keys: 0

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  using NotifyHandler = std::function<void(QObject* sender)>;
  using MouseHandler = std::function<void(QObject* sender, MouseButton, ShiftState, int x, int y)>;

  TrayIcon(QObject* owner, const QString& name);
  ~TrayIcon() override;

  bool Active() const { return active_; }
  void setActive(bool on);
  bool Animate() const { return animate_; }
  void setAnimate(bool on);
  int AnimateInterval() const { return animateInterval_; }
  void setAnimateInterval(int ms);
  bool ShowDesigning() const { return showDesigning_; }
  void setShowDesigning(bool on) { showDesigning_ = on; }  // designer only
  const QIcon& Icon() const { return icon_.icon(); }
  void setIcon(const QIcon& icon);
  ImageList* Images() const { return images_; }
  void setImages(ImageList* list);
  const QString& ToolTip() const { return toolTip_; }
  void setToolTip(const QString& tip);
  QMenu* PopupMenu() const { return popupMenu_; }
  void setPopupMenu(QMenu* menu);

  NotifyHandler OnClick;
  NotifyHandler OnDblClick;
  MouseHandler OnRightClick;

  // The hidden window that receives the shell's callback messages.
  shell::HWND messageWindow() const { return window_->handle(); }
  // The record last handed to the shell (for tests and diagnostics).
  const shell::NOTIFYICONDATA& iconData() const { return iconData_; }
  // The animation's current image index.
  int imageIndex() const { return imageIndex_; }
  // The two message numbers shared by every tray icon of the process.
  static shell::UINT toolTrayIconMessage();
  static shell::UINT resetToolTipMessage();

  static constexpr int kMaxToolTip = 62;

 private:
  shell::LRESULT wndProc(shell::HWND, shell::UINT msg, shell::WPARAM, shell::LPARAM);
  bool add();
  bool modify(shell::UINT parts);
  bool remove();
  void fill(shell::UINT parts);
  void rightClick();
  void animationTick();
  void forgetImages();

  shell::NOTIFYICONDATA iconData_{};
  bool animate_ = false;
  bool active_ = false;
  bool showDesigning_ = false;
  int animateInterval_ = 100;
  int imageIndex_ = 0;
  shell::Icon icon_;
  shell::Icon savedIcon_;
  QString toolTip_;
  std::unique_ptr<shell::MessageWindow> window_;
  framework::Timer* timer_;
  QPointer<QMenu> popupMenu_;
  QPointer<ImageList> images_;
  QMetaObject::Connection imagesGone_, menuGone_;
};

}  // namespace components
