#pragma once
// The program's windows in creation order, and their global references.
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm8;
class TForm9;

extern TForm8* Form8;
extern TForm1* Form1;
extern TForm2* Form2;
extern TForm3* Form3;
extern TForm4* Form4;
extern TForm5* Form5;
extern TForm6* Form6;
extern TForm9* Form9;

// Creates every window hidden, in the order TForm8, TForm1, TForm2, TForm3,
// TForm4, TForm5, TForm6, TForm9.
void CreateForms();
// Destroys them all (the end of the run).
void DestroyForms();
