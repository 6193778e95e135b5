#include "recording/aviwriter.h"

// Placeholder bodies until the writer lands.
bool DIBFrameSizes(const gdi::Bitmap&, std::uint32_t&, std::uint32_t&) { return false; }
bool DIBFrameFromBitmap(const gdi::Bitmap&, std::uint8_t*, std::uint8_t*) { return false; }
OpenOutcome openvideostream(TAviWriterState&, const gdi::Bitmap&, const QString&, const QString&,
                            const std::function<void(vfw::AVISTREAMINFO&)>&) {
  return OpenOutcome::FrameDataFailed;
}
std::int32_t writevideoframe(TAviWriterState&, const gdi::Bitmap&, std::int32_t) { return vfw::AVIERR_ERROR; }
void releasevideostream(TAviWriterState& w) { w.opened = false; }
