#include "app/main.h"

// The recorder's commands: filled in with the recorder.
void TForm1::NameFile1Click() {}
void TForm1::Button11Click() { NameFile1Click(); }
void TForm1::setuptorecord() {}
void TForm1::Button4Click() {}
void TForm1::makeavi() {}
void TForm1::Button5Click() {}
void TForm1::Button6Click() {}
void TForm1::CloseFile1Click() { Button6Click(); }
void TForm1::Button7Click() {}
void TForm1::closeavi() {}
void TForm1::Timer1Timer() {}
void TForm1::closeRecordingOnExit() {}
