#pragma once
// Kestrel on the session bus: a running Kestrel answers `kestrel --pause`,
// --resume, --stop, --cancel and --status, and any other program, through
// one object. Its methods do what the toolbar's buttons do; its State
// property says what the recording is doing and signals each change
// (org.freedesktop.DBus.Properties.PropertiesChanged). The interface is
// described in data/io.github.kestrel.Kestrel.xml.
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "recording/reports.h"
#include "recording/session.h"

namespace app {

class MainWindow;

// The names desktop programs give such an object: the program's
// application id as the bus name and the interface, the object path that
// id with slashes.
extern const QString kControlBusName;
extern const QString kControlObjectPath;
extern const QString kControlInterface;

// The State property's words: "idle", "choosing-target", "ready",
// "recording", "paused", "stopping".
QString stateName(recording::RecordState s);

class ControlService : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "io.github.kestrel.Kestrel")
  Q_PROPERTY(QString State READ state)

 public:
  explicit ControlService(MainWindow& window, QObject* parent = nullptr);
  ~ControlService() override;

  // Puts the object on the session bus and takes the bus name; the
  // problem in words, or an empty string. Another Kestrel that holds the
  // name keeps it: the commands go to the one that came first.
  QString publish();

  QString state() const;

 public slots:
  // As the Pause and UnPause buttons: an error when no recording runs, or
  // none is paused.
  Q_SCRIPTABLE void Pause();
  Q_SCRIPTABLE void Resume();
  // As Stop: the file is complete when the reply comes.
  Q_SCRIPTABLE void Stop();
  // As Cancel: what was written stays.
  Q_SCRIPTABLE void Cancel();
  // State, File, and while a file is open the tray icon's figures: Health
  // (its text), ElapsedMs, Frames, FileBytes, FreeBytes (-1 while not
  // known), LostFrames.
  Q_SCRIPTABLE QVariantMap Status();

 private:
  // Sends the error reply for a command that has nothing to act on.
  void refuse(const QString& message);
  void stateChanged(recording::RecordState s);

  MainWindow& window_;
  recording::Session& session_;
  recording::Health health_;
  bool healthKnown_ = false;
  bool published_ = false;
};

}  // namespace app
