#include "app/controlservice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>

#include "app/mainwindow.h"

namespace app {

const QString kControlBusName = QStringLiteral("io.github.kestrel.Kestrel");
const QString kControlObjectPath = QStringLiteral("/io/github/kestrel/Kestrel");
const QString kControlInterface = QStringLiteral("io.github.kestrel.Kestrel");

namespace {

const QString kNothingToDo = QStringLiteral("io.github.kestrel.Kestrel.Error.NothingToDo");

}  // namespace

QString stateName(recording::RecordState s) {
  using recording::RecordState;
  switch (s) {
    case RecordState::Idle: return QStringLiteral("idle");
    case RecordState::ChoosingTarget: return QStringLiteral("choosing-target");
    case RecordState::Ready: return QStringLiteral("ready");
    case RecordState::Recording: return QStringLiteral("recording");
    case RecordState::Paused: return QStringLiteral("paused");
    case RecordState::Stopping: return QStringLiteral("stopping");
  }
  return QStringLiteral("idle");
}

ControlService::ControlService(MainWindow& window, QObject* parent)
    : QObject(parent), window_(window), session_(window.session()) {
  connect(&session_, &recording::Session::stateChanged, this, &ControlService::stateChanged);
  connect(&session_, &recording::Session::health, this, [this](const recording::Health& h) {
    health_ = h;
    healthKnown_ = true;
  });
}

ControlService::~ControlService() {
  if (!published_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(kControlBusName);
  bus.unregisterObject(kControlObjectPath);
}

QString ControlService::publish() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return QStringLiteral("there is no session bus (%1)").arg(bus.lastError().message());
  if (!bus.registerObject(kControlObjectPath, this,
                          QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableProperties))
    return QStringLiteral("the object %1 is taken on the session bus").arg(kControlObjectPath);
  if (!bus.registerService(kControlBusName)) {
    bus.unregisterObject(kControlObjectPath);
    return QStringLiteral("another Kestrel is running and answers the commands");
  }
  published_ = true;
  return {};
}

QString ControlService::state() const { return stateName(session_.state()); }

void ControlService::refuse(const QString& message) {
  if (calledFromDBus()) sendErrorReply(kNothingToDo, message);
}

void ControlService::Pause() {
  if (session_.state() == recording::RecordState::Paused) return;  // as asked already
  if (session_.state() != recording::RecordState::Recording) return refuse(QStringLiteral("no recording is running"));
  window_.togglePause();
}

void ControlService::Resume() {
  if (session_.state() == recording::RecordState::Recording) return;
  if (session_.state() != recording::RecordState::Paused) return refuse(QStringLiteral("no recording is running"));
  window_.togglePause();
}

void ControlService::Stop() {
  const auto s = session_.state();
  if (s != recording::RecordState::Recording && s != recording::RecordState::Paused)
    return refuse(QStringLiteral("no recording is running"));
  window_.stopRecording();
}

void ControlService::Cancel() {
  const auto s = session_.state();
  if (s != recording::RecordState::Recording && s != recording::RecordState::Paused &&
      s != recording::RecordState::Ready)
    return refuse(QStringLiteral("no recording is running or about to start"));
  window_.cancelRecording();
}

QVariantMap ControlService::Status() {
  QVariantMap m;
  m.insert(QStringLiteral("State"), state());
  if (!session_.isFileOpen()) return m;
  // Whole: the asking program may run in another folder.
  m.insert(QStringLiteral("File"), QFileInfo(session_.outputFile()).absoluteFilePath());
  if (!healthKnown_) return m;
  m.insert(QStringLiteral("Health"), recording::healthText(health_));
  m.insert(QStringLiteral("ElapsedMs"), qint64(health_.elapsedMs));
  m.insert(QStringLiteral("Frames"), health_.frames);
  m.insert(QStringLiteral("FileBytes"), qint64(health_.fileBytes));
  m.insert(QStringLiteral("FreeBytes"), qint64(health_.freeBytes));
  m.insert(QStringLiteral("LostFrames"), quint64(health_.lostFrames));
  return m;
}

void ControlService::stateChanged(recording::RecordState s) {
  if (s == recording::RecordState::Idle) healthKnown_ = false;
  if (!published_) return;
  QDBusMessage signal = QDBusMessage::createSignal(kControlObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << kControlInterface << QVariantMap{{QStringLiteral("State"), stateName(s)}} << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace app
