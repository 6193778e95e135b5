#pragma once
// Screen copies in a Wayland session: the desktop's screen-cast portal
// (org.freedesktop.portal.ScreenCast, over the session bus) shares one
// monitor, and its frames arrive over PipeWire.
#include <chrono>
#include <memory>
#include <string>

#include "platform/window/grabsource.h"

namespace wnd {

// Where the shared monitor lies in the desktop's layout, in the desktop's
// logical pixels (XWayland's screen coordinates).
struct ScreenCastArea {
  int x = 0;
  int y = 0;
  int width = 0;   // 0: the portal did not say; the frame's size is used
  int height = 0;
};

class PortalGrabber : public GrabSource {
 public:
  explicit PortalGrabber(ScreenCastPermission permission = {});
  ~PortalGrabber() override;
  PortalGrabber(const PortalGrabber&) = delete;
  PortalGrabber& operator=(const PortalGrabber&) = delete;

  // The part of r on the shared monitor, black elsewhere. The monitor's
  // frame is mapped onto its logical area: at scale 1 one frame pixel is
  // one screen pixel; at another scale each bitmap pixel is the frame's
  // pixel nearest its centre, so the bitmap keeps r's size and a 2x
  // monitor's extra detail is dropped. Starts the screen cast first when
  // prepare() was not called. Throws wnd::Error once the cast has ended.
  gdi::Bitmap grab(const RECT& r) override;

  // Asks the portal for one monitor (once: a stored permission skips the
  // question), waits for its first frame. Does nothing while a cast runs;
  // after one ended, starts another. Throws wnd::Error when there is no
  // portal, the user declines, or no picture comes.
  void prepare() override;
  std::string name() const override { return "screen-cast portal"; }
  // The pointer comes drawn into the desktop's frames (the portal's
  // embedded cursor mode), else as its picture and place beside them (the
  // metadata mode), drawn in here; chosen when the cast starts: a
  // prepare() after the choice changed starts the cast again.
  std::string pointerProblem() const override { return pointerProblem_; }

  // A copy asked for after awaitNewPicture() waits for the cast's next
  // frame (at most kNewPictureWaitMs); the others are made at once.
  void awaitNewPicture() override;
  void startGrab(const RECT& r) override;
  bool grabArrived() override;
  gdi::Bitmap finishGrab() override;
  bool grabPending() const override { return pending_ || GrabSource::grabPending(); }

  // While a cast runs: the monitor's area, its frame's size, the kind of
  // buffers that carry it ("memfd", "shared memory", "dma-buf").
  ScreenCastArea area() const;
  std::pair<int, int> frameSize() const;
  std::string bufferKind() const;
  // The cursor mode of the running cast (1 hidden, 2 embedded, 4 metadata;
  // 0: none asked).
  unsigned cursorMode() const;
  // The permission token in use (the last the portal gave).
  const std::string& token() const { return permission_.token; }

  // How long the portal's dialog may stay open.
  static constexpr std::chrono::seconds kAnswerTimeout{180};

 private:
  void start();
  struct Session;
  std::unique_ptr<Session> session_;
  std::uint64_t newestSequence() const;

  std::string lastFailure_;
  std::string pointerProblem_;
  ScreenCastPermission permission_;
  bool preparing_ = false;
  // A new picture awaited: after which frame, until when.
  bool awaiting_ = false;
  std::uint64_t awaitAfter_ = 0;
  std::chrono::steady_clock::time_point awaitUntil_;
  // A copy held back until that frame comes.
  bool pending_ = false;
  RECT pendingRect_{};
};

}  // namespace wnd
