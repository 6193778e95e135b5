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

namespace forms {
class Timer;
}

// A list of images (the animation frames of a tray icon).
class TImageList : public QObject {
  Q_OBJECT
 public:
  explicit TImageList(QObject* owner = nullptr) : QObject(owner) {}
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

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = unsigned;  // no shift keys: 0

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  using TNotifyEvent = std::function<void(QObject* sender)>;
  using TMouseEvent = std::function<void(QObject* sender, TMouseButton, TShiftState, int x, int y)>;

  TTrayIcon(QObject* owner, const QString& name);
  ~TTrayIcon() override;

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
  TImageList* Images() const { return images_; }
  void setImages(TImageList* list);
  const QString& ToolTip() const { return toolTip_; }
  void setToolTip(const QString& tip);
  QMenu* PopupMenu() const { return popupMenu_; }
  void setPopupMenu(QMenu* menu);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnRightClick;

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
  forms::Timer* timer_;
  QPointer<QMenu> popupMenu_;
  QPointer<TImageList> images_;
  QMetaObject::Connection imagesGone_, menuGone_;
};
