#pragma once
// Where the program's screen copies come from. Two sources sit behind one
// interface: the X server itself (MIT-SHM GetImage of the root window), and
// the desktop's screen-cast portal with PipeWire, for Wayland sessions, in
// which XWayland's root window holds no pixels. One is chosen at start-up.
#include <functional>
#include <memory>
#include <string>

#include "platform/gdi/bitmap.h"
#include "platform/window/windows.h"

namespace wnd {

class GrabSource {
 public:
  virtual ~GrabSource() = default;

  // What the screen shows inside r (X screen coordinates), in a new
  // bitmap of r's size. The part of r outside the screen is black. Throws
  // wnd::Error with a message for the user when the screen cannot be read.
  virtual gdi::Bitmap grab(const RECT& r) = 0;

  // The same copy in two steps, so that the calling thread can go on with
  // its events while the pixels are on their way: startGrab asks for them,
  // grabArrived says without waiting whether they are in, finishGrab takes
  // them (waiting if need be). Either step throws as grab() does. One copy
  // at a time: starting another drops one not yet finished. A source that
  // copies at once does the whole copy in startGrab.
  virtual void startGrab(const RECT& r);
  virtual bool grabArrived() { return true; }
  virtual gdi::Bitmap finishGrab();
  virtual bool grabPending() const { return started_; }

  // The next copy shows the screen as it is from now on. A source that
  // shows it late (a compositor's cast, whose newest frame may still hold
  // a window closed a moment ago) lets that copy arrive only with a frame
  // that came after this call, or once kNewPictureWait has passed (a
  // screen that does not change sends none). The X server's copies are
  // the screen as it is.
  virtual void awaitNewPicture() {}
  static constexpr int kNewPictureWaitMs = 500;

  // Makes the source ready before the first grab of a preview: the portal
  // asks the desktop for the screen (the desktop may ask the user, and this
  // waits for the answer). Throws wnd::Error with a plain message when the
  // source cannot see the screen, so that the user learns it before a
  // recording rather than from a black file.
  virtual void prepare() = 0;

  // "X11" or "screen-cast portal", for messages.
  virtual std::string name() const = 0;

  // Whether copies from now on show the mouse pointer where it lies over
  // their rectangle, with its shape and hot spot as the user sees them. Off
  // at first. The X server's source draws it into copies started with
  // startGrab only: one asked for with grab() (a snapshot, the check before
  // a preview) is the screen alone.
  virtual void showPointer(bool on) { pointer_ = on; }
  bool pointerShown() const { return pointer_; }
  // Why the pointer, though shown, is missing from the copies (empty: it
  // is not), in words for the user; known after prepare().
  virtual std::string pointerProblem() const { return {}; }

 private:
  bool pointer_ = false;
  gdi::Bitmap copied_;  // what startGrab copied at once
  bool started_ = false;
};

enum class GrabSourceKind { Auto, X11, Portal };

// "auto", "x11" or "portal" (any case); Auto for anything else.
GrabSourceKind ParseGrabSourceKind(const std::string& setting);

// What Auto means here: the portal in a Wayland session (WAYLAND_DISPLAY
// set), else the X server.
GrabSourceKind ResolveGrabSourceKind(GrabSourceKind wanted);

// Whether the program runs in a Wayland session (through XWayland).
bool InWaylandSession();

// The portal's permission to record without asking again, kept by the
// caller with the settings: `token` is given to the next session, and
// `tokenChanged` is told each new one the desktop hands out.
struct ScreenCastPermission {
  std::string token;
  std::function<void(const std::string&)> tokenChanged;
};

// Replaces the program's source (used by CopyScreenRect; null: the X
// server's again at the next use). The one before
// is destroyed, ending its screen cast.
void SetGrabSource(std::unique_ptr<GrabSource> source);
// Makes and sets the source of that kind (Auto resolved as above).
void ChooseGrabSource(GrabSourceKind kind, ScreenCastPermission permission = {});
// The program's source; the X server's unless one was set.
GrabSource& CurrentGrabSource();

// The program's screen copy in two steps, through the chosen source.
void StartScreenCopy(const RECT& r);
bool ScreenCopyArrived();
// False when no copy is on its way (the source was replaced meanwhile).
bool ScreenCopyPending();
gdi::Bitmap FinishScreenCopy();
void AwaitNewScreenPicture();

}  // namespace wnd
