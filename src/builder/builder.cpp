#include "app/main.h"

// The AVI builder: filled in with the builder.
void TForm1::Open1Click() {}
void TForm1::Close1Click() {}
void TForm1::Button1Click() {}
void TForm1::Button8Click() {}
void TForm1::Button3Click() {}
void TForm1::GenerateAVI() {}
