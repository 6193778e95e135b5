#include "framework/application.h"

#include <malloc.h>

#include <QMessageBox>

#include "framework/errors.h"

namespace framework {

namespace {
int g_handled = 0;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("kestrel"));
  // No display name: Qt would append it to every caption ("Kestrel 2.5 —
  // Kestrel"), and each window's caption is exactly what it says.
  // The main window ends the program when it closes (see TForm1); hidden
  // secondary windows must not end it by being the last one closed.
  setQuitOnLastWindowClosed(false);
  // A recording allocates and frees buffers of megabytes every frame (the
  // encoder's pictures and packets). glibc would give each back to the
  // kernel and fault every page in again for the next frame; kept in the
  // heap they are reused as they are.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
  return false;
}

void ShowException(const std::exception& e) {
  ++g_handled;
  QMessageBox box(QMessageBox::Critical, Application::title(), QString::fromUtf8(e.what()), QMessageBox::Ok);
  box.setObjectName(QStringLiteral("ErrorBox"));
  box.exec();
}

void ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int handledExceptionCount() { return g_handled; }

}  // namespace framework
