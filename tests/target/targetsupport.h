#pragma once
// Shared steps of the capture-target tests: the program's windows, a
// painted area of the screen, and clicks where a person would click.
#include <QString>
#include <QStringList>
#include <QProcess>
#include <string>

#include "framework/bounds.h"
#include "support/programwindows.h"
#include "platform/gdi/bitmap.h"
#include "platform/window/windows.h"

namespace targettest {

// Creates every window for one test and destroys them at its end; the
// preferences are not under test here: their loading tick would reset the
// menu check marks a test has set.
using Forms = testsupport::ProgramWindows;

// The capture frame's outer rectangle as the X server has it.
wnd::RECT frameOnServer();
wnd::RECT toRect(const framework::Bounds& b);

// Runs events until the frame stands at r on the server and in its own
// bounds; false after ms.
bool waitFrameAt(const wnd::RECT& r, int ms = 5000);
// The same for a rectangle that may change while waiting (a window that
// the window manager is still placing).
bool waitFrameOver(wnd::HWND w, int ms);

// A real mouse click (xdotool) on the frame's "X".
void clickX();

// Runs events until the next grab has put a picture into the preview.
bool waitForGrab(int ms = 3000);

// Number of pixels of the preview that differ from the expected colour of
// the pattern window at (px, py) (see xtest::PatternWindow) or, where r
// leaves the screen, from black.
long patternMismatches(const gdi::Bitmap& b, const wnd::RECT& r, int px, int py);

// An xterm with a title of its own.
struct XTerm {
  QProcess proc;
  wnd::HWND id = 0;
  XTerm(const std::string& title, const std::string& geometry);
  ~XTerm();
};

bool activate(wnd::HWND w);

}  // namespace targettest
