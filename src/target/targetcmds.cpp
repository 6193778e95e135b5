#include "app/forms.h"
#include "app/main.h"
#include "framework/bounds.h"
#include "platform/window/windows.h"
#include "target/mirror.h"

// Lays the capture frame over the window the user works in. With no
// foreground window (the desktop has the focus) or one that vanished
// between the two questions, the frame stays where it is.
void TForm1::WindowMirrorTimer() {
  Form4->showOnTop();
  const wnd::HWND target = wnd::GetForegroundWindow();
  const auto r = wnd::GetWindowRect(target);
  if (!r) return;
  // Left, Top, Height and Width in one request: nothing runs between the
  // four, so the window manager is spared three intermediate frames (and
  // the toolkit's not-yet-confirmed geometry is never read back half-set).
  TForm4::Resizing unlocked(Form4, r->right - r->left, r->bottom - r->top);
  forms::setOuterBounds(Form4, {r->left, r->top, r->right - r->left, r->bottom - r->top});
}
