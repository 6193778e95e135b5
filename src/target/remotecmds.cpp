#include <QAction>

#include "app/forms.h"
#include "app/main.h"
#include "framework/bounds.h"
#include "target/mirror.h"
#include "target/unit8.h"

// Runs after each grab. The remote control sits with its outer top-left
// corner on the capture rectangle's bottom-left corner; it is not pulled
// back onto the screen when the rectangle reaches the bottom edge.
void TForm1::placeRemoteControl() {
  if (remoteOff == 1) return;
  if (remoteMoveable == 0) {
    const forms::Bounds frame = forms::outerBounds(Form4);
    forms::Bounds remote = forms::outerBounds(Form8);
    const int left = frame.left;
    const int top = frame.top + frame.height;
    if (remote.left != left || remote.top != top) {
      remote.left = left;
      remote.top = top;
      forms::setOuterBounds(Form8, remote);
    }
  }
  if (!Form8->isVisible()) {
    Form8->show();
    Form8->raise();
  }
}

void TForm1::On1Click() {
  On1->setChecked(true);
  Off1->setChecked(false);
  remoteOff = 0;
}

void TForm1::Off1Click() {
  On1->setChecked(false);
  Off1->setChecked(true);
  remoteOff = 1;
}

void TForm1::Moveable1Click() {
  if (Moveable1->isChecked()) {
    remoteMoveable = 0;
    Moveable1->setChecked(false);
  } else {
    remoteMoveable = 1;
    Moveable1->setChecked(true);
  }
}
