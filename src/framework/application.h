#pragma once
#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

namespace framework {

// The application object. Its notify() is the framework's one top-level
// error handler: an exception that escapes any event handler is shown in an
// error box and the program goes on with the next message.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // The caption of plain notice boxes and error boxes.
  static QString title() { return QStringLiteral("Kestrel"); }
};

// Shows an escaped exception's message the way the top-level handler does.
void ShowException(const std::exception& e);

// Runs every pending window message: timers, clicks and repaints that are
// queued run inside this call.
void ProcessMessages();

// Number of exceptions the top-level handler has shown (for tests).
int handledExceptionCount();

}  // namespace framework
