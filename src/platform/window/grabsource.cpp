#include "platform/window/grabsource.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/window/display.h"
#include "platform/window/screencast.h"
#include "platform/window/screengrab.h"

namespace wnd {

namespace {

std::unique_ptr<GrabSource>& slot() {
  static std::unique_ptr<GrabSource> source;
  return source;
}

bool allZero(const gdi::Bitmap& b) {
  const auto bits = b.bits();
  return std::all_of(bits.begin(), bits.end(), [](std::uint8_t v) { return v == 0; });
}

const char* const kUsePortal =
    " Kestrel reads a Wayland desktop through its screen-cast portal: set grabsource=auto (or portal) in the "
    "[setup] section of kestrel.ini.";

}  // namespace

// XWayland without a root window of its own (the rootless mode of every
// Wayland desktop) refuses GetImage of the root with BadMatch, or, where it
// answers, shows native Wayland windows as black. Either way a recording
// would hold nothing; the user is told before one starts.
void ScreenGrabber::prepare() {
  Display& d = display_;
  d.refreshSize();
  gdi::Bitmap whole;
  try {
    whole = grab({0, 0, std::max(d.width(), 1), std::max(d.height(), 1)});
  } catch (const Error& e) {
    std::string msg = std::string("Kestrel cannot see the screen through X11: ") + e.what() + ".";
    if (InWaylandSession()) msg += kUsePortal;
    throw Error(msg);
  }
  if (InWaylandSession() && allZero(whole))
    throw Error(std::string("Kestrel cannot see the screen through X11: XWayland shows it all black.") + kUsePortal);
}

GrabSourceKind ParseGrabSourceKind(const std::string& setting) {
  std::string s = setting;
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (s == "x11") return GrabSourceKind::X11;
  if (s == "portal") return GrabSourceKind::Portal;
  return GrabSourceKind::Auto;
}

bool InWaylandSession() {
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return w && *w;
}

GrabSourceKind ResolveGrabSourceKind(GrabSourceKind wanted) {
  if (wanted != GrabSourceKind::Auto) return wanted;
  return InWaylandSession() ? GrabSourceKind::Portal : GrabSourceKind::X11;
}

void SetGrabSource(std::unique_ptr<GrabSource> source) { slot() = std::move(source); }

void ChooseGrabSource(GrabSourceKind kind, ScreenCastPermission permission) {
  if (ResolveGrabSourceKind(kind) == GrabSourceKind::Portal)
    SetGrabSource(std::make_unique<PortalGrabber>(std::move(permission)));
  else
    SetGrabSource(nullptr);  // the X server's, connected at the first grab: start-up needs no display
}

GrabSource& CurrentGrabSource() {
  if (!slot()) slot() = std::make_unique<ScreenGrabber>(Display::instance());
  return *slot();
}

gdi::Bitmap CopyScreenRect(const RECT& r) { return CurrentGrabSource().grab(r); }

void GrabSource::startGrab(const RECT& r) {
  started_ = false;
  copied_ = grab(r);
  started_ = true;
}

gdi::Bitmap GrabSource::finishGrab() {
  if (!started_) throw Error("No screen copy was started");
  started_ = false;
  return std::move(copied_);
}

void StartScreenCopy(const RECT& r) { CurrentGrabSource().startGrab(r); }
bool ScreenCopyArrived() { return CurrentGrabSource().grabArrived(); }
bool ScreenCopyPending() { return CurrentGrabSource().grabPending(); }
gdi::Bitmap FinishScreenCopy() { return CurrentGrabSource().finishGrab(); }
void AwaitNewScreenPicture() { CurrentGrabSource().awaitNewPicture(); }

}  // namespace wnd
