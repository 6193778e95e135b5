// Kestrel's entry: answer the command line, or create the windows hidden, show the main window (or record
// what the command line asked for), put the icon in the notification area, answer on the session bus and run
// the message loop.
#include <xcb/xcb.h>

#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/commandline.h"
#include "app/controlservice.h"
#include "app/mainwindow.h"
#include "app/windows.h"
#include "components/trayicon.h"
#include "framework/application.h"

namespace {

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

// Qt meets an X server it cannot reach with an abort and a page of text;
// a person needs one line saying what is wrong.
bool xServerReachable(const char* display) {
  int screen = 0;
  xcb_connection_t* c = xcb_connect(display, &screen);
  const bool ok = c && !xcb_connection_has_error(c);
  if (c) xcb_disconnect(c);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and the windowless commands answer without a display.
  std::optional<app::RecordRequest> record;
  if (const auto status = app::runCommandLine(argc, argv, record)) return *status;
  const char* display = env("DISPLAY");
  const char* platform = env("QT_QPA_PLATFORM");
  if (!display && !env("WAYLAND_DISPLAY") && !platform) {
    std::fprintf(stderr, "kestrel: no graphical display found (DISPLAY is not set); start it from a desktop session.\n");
    return 1;
  }
  // Reading the screen and following other programs' windows needs X11. In
  // a Wayland session Kestrel runs through XWayland, as an X client itself,
  // so that its own windows are X windows too.
  if (!platform && env("WAYLAND_DISPLAY")) {
    if (!display) {
      std::fprintf(stderr, "kestrel: this Wayland session has no XWayland (DISPLAY is not set); Kestrel needs X11.\n");
      return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    platform = env("QT_QPA_PLATFORM");
  }
  const bool onX = !platform || std::strncmp(platform, "xcb", 3) == 0;
  if (onX && display && !xServerReachable(display)) {
    std::fprintf(stderr, "kestrel: cannot open the display %s; is the X server running and may this user use it?\n",
                 display);
    return 1;
  }
  framework::Application application(argc, argv);
  application.setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  app::Windows windows;
  // `kestrel --stop` and the others reach this program through the bus; a
  // Kestrel that was there first keeps answering them.
  app::ControlService control(*windows.mainWindow());
  if (const QString problem = control.publish(); !problem.isEmpty())
    std::fprintf(stderr, "kestrel: %s; 'kestrel --stop' and the other commands do not reach this one.\n",
                 problem.toLocal8Bit().constData());
  if (record) return app::recordFromCommandLine(windows, *record);
  windows.mainWindow()->show();
  windows.mainWindow()->trayIcon()->setActive(true);
  return application.exec();
}
