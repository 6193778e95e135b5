#include "app/forms.h"

#include <QtGlobal>

#include "app/framerate.h"
#include "app/main.h"
#include "app/preview.h"
#include "app/unit9.h"
#include "target/mirror.h"
#include "target/picture.h"
#include "target/unit8.h"
#include "target/winorarea.h"

TForm8* Form8 = nullptr;
TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;
TForm9* Form9 = nullptr;

// The icons live in the forms library; a static library must register its
// resources itself.
static void initResources() { Q_INIT_RESOURCE(resources); }

void CreateForms() {
  initResources();
  Form8 = new TForm8;
  Form1 = new TForm1;
  Form2 = new TForm2;
  Form3 = new TForm3;
  Form4 = new TForm4;
  Form5 = new TForm5;
  Form6 = new TForm6;
  Form9 = new TForm9;
}

template <typename T>
static void destroy(T*& f) {
  delete f;
  f = nullptr;
}

void DestroyForms() {
  destroy(Form9);
  destroy(Form6);
  destroy(Form5);
  destroy(Form4);
  destroy(Form3);
  destroy(Form2);
  destroy(Form1);
  destroy(Form8);
}
