#include "app/main.h"

#include "framework/timer.h"

// Preferences: filled in with the settings store.
void TForm1::Timer2Timer() {
  loadvalues();
  Timer2->setEnabled(false);
}
void TForm1::loadvalues() {}
void TForm1::closeit() {}
void TForm1::Strech1Click() {}
void TForm1::NonStretch1Click() {}
void TForm1::Keep1Click() {}
void TForm1::Ask1Click() {}
void TForm1::FrameRate1Click() {}
void TForm1::Setup1Click() {}
