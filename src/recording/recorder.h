#pragma once
// Helpers of the recorder that the remote control and the tests share.
#include <QString>

class TForm1;

namespace recorder {

// The frame rates a recording accepts: one frame a second up to one a
// millisecond, the finest interval the timers have.
constexpr int kMinFrameRate = 1;
constexpr int kMaxFrameRate = 1000;

// Reads the frame-rate text the way the rest of the program reads whole
// numbers. True with the rate when it is a whole number from 1 to 1000;
// otherwise false, with a sentence for the user that says what is wrong.
bool parseFrameRate(const QString& text, int& rate, QString& problem);

// True while the recorder holds a file: a recording was started and not yet
// closed, also before its first frame and after a failed write.
bool fileOpen(const TForm1& form);

}  // namespace recorder
