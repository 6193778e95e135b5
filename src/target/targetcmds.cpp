#include "app/main.h"

// Following the foreground window: filled in with target selection.
void TForm1::WindowMirrorTimer() {}
