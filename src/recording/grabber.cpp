#include "recording/grabber.h"

#include "platform/window/grabsource.h"

namespace recording {

void ScreenGrabber::start(const wnd::RECT& r) {
  // Told at every copy: the source may have been replaced since the last.
  wnd::CurrentGrabSource().showPointer(pointer_);
  wnd::StartScreenCopy(r);
}

bool ScreenGrabber::arrived() { return wnd::ScreenCopyArrived(); }

void ScreenGrabber::awaitNewPicture() { wnd::AwaitNewScreenPicture(); }

gdi::Bitmap ScreenGrabber::finish() {
  if (!wnd::ScreenCopyPending()) return {};
  return wnd::FinishScreenCopy();
}

}  // namespace recording
