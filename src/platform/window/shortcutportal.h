#pragma once
// The desktop's GlobalShortcuts portal (org.freedesktop.portal.GlobalShortcuts):
// in a Wayland session the one way for a program to have keys that reach it
// whichever window has the focus. The program names its shortcuts and the
// keys it would like; the desktop binds them (it may ask the user, and its
// own shortcut settings can change them), says which keys it gave, and
// signals each press.
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <vector>

namespace wnd {

class ShortcutPortal : public QObject {
  Q_OBJECT
 public:
  struct Shortcut {
    QString id;
    QString description;
    QString preferredTrigger;  // in the shortcut format: "CTRL+ALT+SHIFT+F9"; empty: no wish
  };

  explicit ShortcutPortal(QObject* parent = nullptr);
  ~ShortcutPortal() override;  // closes the session: the desktop lets the keys go

  // Whether the session bus has a portal that offers global shortcuts.
  static bool available();

  // Asks the desktop for these shortcuts, answered by bound() or failed().
  // Once per portal: the desktop keeps what it bound for the program's
  // session.
  void bind(const std::vector<Shortcut>& shortcuts);

 signals:
  // id -> the desktop's own words for the keys that run it ("Ctrl+Alt+F9";
  // empty: the desktop gave it none).
  void bound(const QMap<QString, QString>& triggers);
  void changed(const QMap<QString, QString>& triggers);
  void failed(const QString& reason);
  void activated(const QString& id);

 private slots:
  void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap& options);
  void onShortcutsChanged(const QDBusMessage& message);

 private:
  void created(const QVariantMap& results);
  void finish(const QVariantMap& results);
  void fail(const QString& reason);

  std::vector<Shortcut> wanted_;
  QString session_;
  void dropRequest();

  QVariant list_;  // the shortcuts as the portal takes them
  std::unique_ptr<QObject> request_;  // the request awaiting its answer
  int requests_ = 0;
  bool asked_ = false;
};

}  // namespace wnd
