#pragma once
// Answers the real modal boxes and dialogs that handlers open, the way a
// person would, so tests drive the program's own code paths.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

class QTimer;

namespace testsupport {

struct SeenBox {
  QString title;
  QString text;
  QString className;
  QString objectName;
};

// While alive, polls for the active modal widget (or any visible top-level
// QDialog) every few milliseconds. For each one found it records what was
// seen and calls the handler; the default handler accepts message boxes
// (presses their default button) and rejects other dialogs.
class ModalWatcher {
 public:
  using Handler = std::function<void(QWidget*)>;
  explicit ModalWatcher(Handler handler = {});
  ~ModalWatcher();
  ModalWatcher(const ModalWatcher&) = delete;
  ModalWatcher& operator=(const ModalWatcher&) = delete;

  const std::vector<SeenBox>& seen() const { return seen_; }
  QStringList texts() const;
  void setHandler(Handler h) { handler_ = std::move(h); }

  static void acceptDefault(QWidget* w);

 private:
  void poll();
  Handler handler_;
  QTimer* timer_;
  std::vector<SeenBox> seen_;
  QPointer<QWidget> last_;  // a new box at a freed box's address is still new
};

// Runs the event loop for ms milliseconds (timers keep ticking).
void pumpFor(int ms);

// Runs the event loop until pred() holds or ms passes; returns pred().
bool pumpUntil(const std::function<bool()>& pred, int ms);

}  // namespace testsupport
