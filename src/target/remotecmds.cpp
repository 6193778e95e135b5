#include "app/main.h"

// The remote control's menu commands: filled in with the remote control.
void TForm1::placeRemoteControl() {}
void TForm1::On1Click() {}
void TForm1::Off1Click() {}
void TForm1::Moveable1Click() {}
