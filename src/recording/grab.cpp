#include <QString>
#include <exception>

#include "app/forms.h"
#include "app/main.h"
#include "framework/application.h"
#include "framework/bounds.h"
#include "framework/image.h"
#include "platform/window/screengrab.h"
#include "target/mirror.h"

// One grab: the screen inside the capture frame's outer rectangle (the
// frame is hidden by now, so this is what lies under it) becomes the
// preview's picture. The gate is busy while the picture is replaced.
void TForm1::getpicTimer() {
  // An error box runs its own message loop, in which this timer keeps
  // ticking; a failing grab must not stack a new box every tick.
  static bool reporting = false;
  if (reporting) return;
  frameGate = 2;
  const forms::Bounds b = forms::outerBounds(Form4);
  gdi::Bitmap bmp;
  try {
    bmp = wnd::CopyScreenRect({b.left, b.top, b.left + b.width, b.top + b.height});
  } catch (const std::exception& e) {
    // Shown like any escaped error; the gate stays busy, so no frame is
    // written until a grab succeeds again.
    reporting = true;
    forms::ShowException(e);
    reporting = false;
    return;
  }
  Image1->setPicture(bmp);
  frameGate = 1;
  placeRemoteControl();
}
