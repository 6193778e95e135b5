// Kestrel's entry: create the windows hidden, show the main window, put the
// icon in the notification area and run the message loop.
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "app/forms.h"
#include "app/main.h"
#include "components/trayicon.h"
#include "framework/application.h"

int main(int argc, char** argv) {
  const bool haveDisplay = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
  if (!haveDisplay) {
    std::fprintf(stderr, "kestrel: no graphical display found (DISPLAY is not set); start it from a desktop session.\n");
    return 1;
  }
  forms::Application app(argc, argv);
  app.setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  CreateForms();
  Form1->show();
  Form1->TrayIcon1->setActive(true);
  const int rc = app.exec();
  DestroyForms();
  return rc;
}
