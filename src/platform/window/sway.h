#pragma once
// sway's IPC, where the program runs on sway (SWAYSOCK set). sway centres a
// floating X window whatever position the window asks for; the capture
// frame and the remote control must sit exactly, so they are moved by
// command as well.
#include <optional>
#include <string>

#include "platform/window/windows.h"

namespace wnd {

// Whether the program runs on sway with its IPC socket reachable.
bool OnSway();

// Moves the X window w so that its top-left corner is at (x, y) in X
// screen coordinates (sway's layout coordinates). False when not on sway,
// or when sway does not know the window (not mapped yet) or refuses.
bool SwayMoveWindow(HWND w, int x, int y);

// Runs one sway command; sway's JSON reply, empty when it could not be
// asked.
std::string SwayCommand(const std::string& command);

// The window sway has focused, native Wayland ones included: its
// rectangle with sway's border, in X screen coordinates. Empty when not on
// sway or when no window has the focus (an empty workspace).
std::optional<RECT> SwayFocusedWindowRect();

}  // namespace wnd
