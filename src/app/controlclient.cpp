#include "app/controlclient.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>

#include "app/controlservice.h"

namespace app {

namespace {

QString methodOf(ControlCommand c) {
  switch (c) {
    case ControlCommand::Pause: return QStringLiteral("Pause");
    case ControlCommand::Resume: return QStringLiteral("Resume");
    case ControlCommand::Stop: return QStringLiteral("Stop");
    case ControlCommand::Cancel: return QStringLiteral("Cancel");
    case ControlCommand::Status: return QStringLiteral("Status");
  }
  return {};
}

// A Stop waits for the frames in the queue to reach the file: up to a
// second of them at 1080p, longer on a slow disk.
constexpr int kTimeoutMs = 120'000;

QString statusText(const QVariantMap& m) {
  QString t = QStringLiteral("state: %1\n").arg(m.value(QStringLiteral("State")).toString());
  if (m.contains(QStringLiteral("File"))) t += QStringLiteral("file: %1\n").arg(m.value(QStringLiteral("File")).toString());
  if (m.contains(QStringLiteral("Health")))
    t += QStringLiteral("health: %1\n").arg(m.value(QStringLiteral("Health")).toString());
  return t;
}

ControlAnswer ask(QDBusConnection& bus, ControlCommand command) {
  ControlAnswer a;
  const QString noKestrel = QStringLiteral("no Kestrel is running");
  if (!bus.isConnected()) {
    a.text = noKestrel + QStringLiteral(" (there is no session bus: %1)").arg(bus.lastError().message());
    return a;
  }
  if (!bus.interface() || !bus.interface()->isServiceRegistered(kControlBusName).value()) {
    a.text = noKestrel;
    return a;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(kControlBusName, kControlObjectPath, kControlInterface, methodOf(command));
  const QDBusMessage reply = bus.call(call, QDBus::Block, kTimeoutMs);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    const QDBusError e(reply);
    // The program may have ended between the two questions.
    a.reached = e.type() != QDBusError::ServiceUnknown && e.type() != QDBusError::Disconnected;
    a.text = !a.reached                       ? noKestrel
             : e.type() == QDBusError::NoReply ? QStringLiteral("the running Kestrel did not answer")
                                               : e.message();
    return a;
  }
  a.reached = a.done = true;
  if (command == ControlCommand::Status) {
    const QDBusReply<QVariantMap> status(reply);
    a.text = statusText(status.value());
  }
  return a;
}

}  // namespace

ControlAnswer sendControlCommand(ControlCommand command) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return ask(bus, command);
}

}  // namespace app
