#pragma once
// Copies of the screen into device bitmaps.
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/window/grabsource.h"
#include "platform/window/windows.h"

namespace wnd {

class CursorReader;
class Display;

// Reads what the screen shows inside a rectangle into a new bitmap in the
// display's pixel format, one screen pixel per bitmap pixel. The part of
// the rectangle outside the screen is black; the X server is only ever
// asked for the part inside it (GetImage of anything beyond the root's
// edge fails with BadMatch). The screen's size is followed when it
// changes during a recording.
//
// Pixels come through MIT-SHM segments where the server offers it and
// accepts ours, else in the GetImage reply itself. A grab of a rectangle
// wholly on the screen is a bitmap over its segment, without a copy; the
// segment is written again only once every copy of that bitmap is gone, so
// a grab never changes under whoever holds it. Segments are kept from one
// grab to the next, at most kMaxSegments of them.
//
// With the pointer shown, its picture is asked of XFixes right after the
// copy and drawn into the copy where it lies over the rectangle.
class ScreenGrabber : public GrabSource {
 public:
  explicit ScreenGrabber(Display& display);
  ~ScreenGrabber() override;
  ScreenGrabber(const ScreenGrabber&) = delete;
  ScreenGrabber& operator=(const ScreenGrabber&) = delete;

  // Throws wnd::Error when the server refuses the copy (the message says
  // why); the bitmap is then not produced. Width and height must be at
  // least 1 and at most 65535.
  gdi::Bitmap grab(const RECT& r) override;
  // The shared-memory copy is asked for at the start and its reply taken
  // at the finish: the server copies while the caller goes on.
  void startGrab(const RECT& r) override;
  bool grabArrived() override;
  gdi::Bitmap finishGrab() override;
  bool grabPending() const override { return pending_ != nullptr; }
  void prepare() override;
  std::string name() const override { return "X11"; }

  // Whether grabs go through shared memory (false after a fallback).
  bool usingShm() const { return shmUsable_ && !segments_.empty(); }
  // Where the last grab's segment is mapped here (null: none yet).
  const void* segmentAddress() const;
  std::size_t segmentCount() const;
  // Enough for a recording's frame queue at 1080p, the preview and the
  // frame being written; grabs beyond come without shared memory.
  static constexpr std::size_t kMaxSegments = 40;

 private:
  struct Memory;
  struct Segment;
  struct Pending;
  Segment* freeSegment(std::size_t bytes);
  void startCopy(const RECT& r);
  gdi::Bitmap finishCopy();
  // Asks for the part of r on the screen (a copy that needs no reply is
  // made at once), and takes the answer.
  std::unique_ptr<Pending> begin(const RECT& r);
  gdi::Bitmap complete(Pending& p);
  // Waits for the copy's reply, unless it is in already.
  void awaitReply(Pending& p);
  // A copy started and never finished: its reply is waited for, so the
  // server is done with the segment before it is used again.
  void dropPending();
  void copyRows(gdi::Bitmap& bmp, const std::uint8_t* src, std::size_t srcStride, int dx, int dy, int w, int h) const;
  void grabPlain(gdi::Bitmap& bmp, int x, int y, int w, int h, int dx, int dy);

  Display& display_;
  bool shmUsable_;
  std::vector<std::unique_ptr<Segment>> segments_;
  std::unique_ptr<Pending> pending_;
  const void* lastSegment_ = nullptr;
  std::chrono::steady_clock::time_point sizeCheckedAt_{};
  bool lastRefusalWasMatch_ = false;
  std::unique_ptr<CursorReader> cursor_;  // made when the pointer is first shown
  RECT pointerRect_{};                    // the copy the pointer's picture was asked with
};

// The program's screen copy, through the chosen source (grabsource.h).
gdi::Bitmap CopyScreenRect(const RECT& r);

}  // namespace wnd
