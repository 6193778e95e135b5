#include "app/main.h"

// Frame capture: filled in with the screen grab and the recorder.
void TForm1::addfile() {}
