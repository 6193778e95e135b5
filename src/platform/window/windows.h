#pragma once
// The window manager's side of the platform: which window the user works
// in, where a window lies on the screen with its frame, and raising a
// window without giving it the keyboard.
#include <cstdint>
#include <optional>

namespace wnd {

class Display;

// An X window id (a top-level client window where the calls below return
// one). 0 means "no window".
using HWND = std::uint32_t;

// Screen coordinates in device pixels; right and bottom exclusive.
struct RECT {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const RECT&) const = default;
};

// The window the user is working in: the root's _NET_ACTIVE_WINDOW where
// a window manager publishes it, else the top-level window holding the
// input focus. 0 when there is none (nothing focused, the desktop, or a
// window that is no longer shown).
HWND GetForegroundWindow();
HWND GetForegroundWindow(Display& d);

// The window's outer rectangle: its window-manager frame and caption
// included. Empty when the window no longer exists (never an X error).
std::optional<RECT> GetWindowRect(HWND w);
std::optional<RECT> GetWindowRect(Display& d, HWND w);

// The window-manager frame around a client window: left, right, top and
// bottom widths in device pixels (_NET_FRAME_EXTENTS). Empty when the
// window is not framed (no window manager, not mapped yet, vanished).
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};
std::optional<FrameExtents> GetFrameExtents(HWND w);
std::optional<FrameExtents> GetFrameExtents(Display& d, HWND w);

// The calls above on the program's display; those below on another one.

// Raises the window (its frame, where there is one) to the top of its
// stacking layer without activating it or moving it.
void RaiseWithoutActivating(HWND w);

// Whether the window is mapped and all its ancestors are (on the screen,
// unless covered).
bool IsViewable(HWND w);

// Returns once a window the toolkit has just hidden is off the screen for
// every X client: the toolkit's requests done by the X server, and the
// window manager's frame around it gone too. False when `timeoutMs` ran out
// first; true at once off X11.
bool AwaitHidden(HWND w, int timeoutMs);

// Asks the window manager to keep a mapped window in the layer above normal
// windows (_NET_WM_STATE_ABOVE), so that activating another window does not
// cover it.
void KeepAbove(HWND w);

}  // namespace wnd
