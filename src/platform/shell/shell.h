#pragma once
// The shell and window-message calls the program makes, under their Windows
// names: ShellExecuteA opens a file or an address through xdg-open,
// Shell_NotifyIconA keeps icons in the notification area through
// QSystemTrayIcon, and a small message-window table stands in for
// RegisterWindowMessageA, PostMessageA and DefWindowProcA.
#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QIcon;
class QObject;

namespace shell {

using BOOL = int;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using CHAR = char;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Handles are 32-bit numbers, as window and icon handles are on the
// original platform (even its 64-bit builds only use the low 32 bits).
// Keeping them 32 bits wide lets NOTIFYICONDATA keep its published 88-byte
// layout on a 64-bit build, so cbSize and sizeof() agree.
enum class HWND : std::uint32_t {};
enum class HICON : std::uint32_t {};

// ---------------------------------------------------------------- messages

constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;

// Numbers handed out by RegisterWindowMessageA lie in this range.
constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;

// The same name (compared without regard to case) always gives the same
// number within the process; an empty name gives 0.
UINT RegisterWindowMessageA(const char* name);

// A hidden window that receives posted messages. Its window procedure runs
// on the user-interface thread, one message at a time, from the event loop.
class MessageWindow {
 public:
  using WndProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
  explicit MessageWindow(WndProc proc);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND handle() const { return handle_; }

 private:
  friend BOOL PostMessageA(HWND, UINT, WPARAM, LPARAM);
  std::unique_ptr<QObject> receiver_;  // the queue's target; dies with the window
  WndProc proc_;
  HWND handle_;
};

// Queues a message for a message window; FALSE when the handle names no
// live window. A window destroyed before the message is handled never
// sees it.
BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool IsWindow(HWND hWnd);

// ---------------------------------------------------------------- icons

// An icon with a handle, as NOTIFYICONDATA carries it. The handle stays the
// same for the object's life; it is 0 while the icon is empty.
class Icon {
 public:
  Icon();
  ~Icon();
  Icon(const Icon&) = delete;
  Icon& operator=(const Icon&) = delete;

  void assign(const QIcon& icon);
  const QIcon& icon() const;
  HICON handle() const;
  bool empty() const;

 private:
  std::unique_ptr<QIcon> icon_;
  HICON handle_;
};

// The icon a handle stands for (a null icon for 0 or an unknown handle).
QIcon iconFromHandle(HICON h);

// ---------------------------------------------------------------- notification area

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 1;
constexpr UINT NIF_ICON = 2;
constexpr UINT NIF_TIP = 4;

struct NOTIFYICONDATA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[64];
};
static_assert(sizeof(NOTIFYICONDATA) == 88, "the first-version layout the program fills");
using NOTIFYICONDATAA = NOTIFYICONDATA;

// What stands behind Shell_NotifyIconA. The default shows real icons with
// QSystemTrayIcon; a test may put a recording double in its place.
class NotifyArea {
 public:
  virtual ~NotifyArea() = default;
  virtual BOOL notify(DWORD message, const NOTIFYICONDATA& data) = 0;
};

// Replaces the notification area (nullptr: back to the real one) and
// returns the one that was in place.
NotifyArea* setNotifyArea(NotifyArea* area);

// Adds, modifies or deletes the icon of (hWnd, uID). A record whose cbSize
// is not 88 is refused. Mouse actions on an added icon reach hWnd as the
// callback message with uID in wParam and the mouse message in lParam.
BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATA* data);

// Where the real notification area shows the icon of (hWnd, uID), in
// screen coordinates; empty when it shows none (no such icon, no tray host,
// or the tray host has not embedded and shown it yet).
QRect notifyIconGeometry(HWND hWnd, UINT uID);

// How the real notification area turns a Qt activation into mouse
// messages. On X11 Qt reports a left click as Trigger and the second click
// of a double click as DoubleClick, so a double click arrives as
// button-up, double-click, button-up, as it does from the original shell.
// Returns how many messages were written to out (at most 2).
int mouseMessagesFor(int qtActivationReason, UINT out[2]);

// ---------------------------------------------------------------- launching

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr std::intptr_t SE_ERR_FNF = 2;
constexpr std::intptr_t SE_ERR_PNF = 3;
constexpr std::intptr_t SE_ERR_NOASSOC = 31;
constexpr std::intptr_t kLaunched = 42;

// Opens file with the desktop's default action through `xdg-open FILE`,
// started directly (no shell command line), so any character in a name
// reaches xdg-open as part of one argument. The file "iexplore" with an
// address in params opens that address in the default web browser.
// Returns a value above 32 when xdg-open was started and did not report a
// failure within a moment (it is given up to 1.5 seconds), SE_ERR_FNF when
// the file does not exist (or xdg-open says so) or xdg-open cannot be found,
// SE_ERR_NOASSOC when xdg-open reports that no program opens the file, SE_ERR_PNF when dir is
// not a folder, SE_ERR_NOASSOC for a program with parameters (not
// supported: there is no portable way to hand parameters through).
// operation and owner are accepted for the caller's sake; only the
// default action exists. The child is reaped in the background.
std::intptr_t ShellExecuteA(HWND owner, const char* operation, const char* file, const char* params,
                            const char* dir, int showCmd);

}  // namespace shell
