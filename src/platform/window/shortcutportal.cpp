#include "platform/window/shortcutportal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <functional>

#include "platform/window/portalrequest.h"

namespace wnd {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
// The session's token names the program's shortcuts in the desktop's
// settings on desktops that key them by it (Plasma 5.27 for a program
// that is not sandboxed): the same every run, so the user's own keys stay.
const QString kSessionToken = QStringLiteral("kestrel");

using ShortcutList = QList<std::pair<QString, QVariantMap>>;

// a(sa{sv}), as the portal sends shortcuts: id -> trigger_description.
QMap<QString, QString> triggersOf(const QVariant& v) {
  QMap<QString, QString> triggers;
  if (!v.canConvert<QDBusArgument>()) return triggers;
  const QDBusArgument arg = v.value<QDBusArgument>();
  arg.beginArray();
  while (!arg.atEnd()) {
    QString id;
    QVariantMap details;
    arg.beginStructure();
    arg >> id >> details;
    arg.endStructure();
    triggers.insert(id, details.value(QStringLiteral("trigger_description")).toString());
  }
  arg.endArray();
  return triggers;
}

// One request of the portal's: its Response is taken whenever it comes
// (the desktop may ask the user first), without blocking the program.
class PortalRequest : public QObject {
  Q_OBJECT
 public:
  using Answer = std::function<void(uint code, const QVariantMap& results)>;
  PortalRequest(QDBusConnection bus, const QString& token, Answer answer) : bus_(bus), answer_(std::move(answer)) {
    path_ = portalRequestPath(bus, token);
    // Subscribed before the call, so that a quick answer is not missed.
    bus_.connect(kService, path_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap)));
  }
  ~PortalRequest() override {
    bus_.disconnect(kService, path_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                    this, SLOT(onResponse(uint, QVariantMap)));
  }

 private slots:
  void onResponse(uint code, const QVariantMap& results) {
    // The answer may delete this request: nothing of it is used afterwards.
    const Answer answer = answer_;
    answer(code, results);
  }

 private:
  QDBusConnection bus_;
  QString path_;
  Answer answer_;
};

QDBusMessage portalCall(const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  m.setArguments(args);
  return m;
}

}  // namespace

ShortcutPortal::ShortcutPortal(QObject* parent) : QObject(parent) {
  qDBusRegisterMetaType<std::pair<QString, QVariantMap>>();
  qDBusRegisterMetaType<ShortcutList>();
}

ShortcutPortal::~ShortcutPortal() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!session_.isEmpty())
    bus.call(QDBusMessage::createMethodCall(kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
                                            QStringLiteral("Close")),
             QDBus::Block, 2000);
}

bool ShortcutPortal::available() {
  QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get.setArguments({kInterface, QStringLiteral("version")});
  const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 10000);
  if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) return false;
  return reply.arguments().first().value<QDBusVariant>().variant().toUInt() >= 1;
}

void ShortcutPortal::bind(const std::vector<Shortcut>& shortcuts) {
  if (asked_) return;
  asked_ = true;
  wanted_ = shortcuts;
  ShortcutList list;
  for (const Shortcut& s : shortcuts) {
    QVariantMap details{{QStringLiteral("description"), s.description}};
    if (!s.preferredTrigger.isEmpty()) details.insert(QStringLiteral("preferred_trigger"), s.preferredTrigger);
    list.append({s.id, details});
  }
  list_ = QVariant::fromValue(list);
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString token = QStringLiteral("kestrel_%1").arg(++requests_);
  request_ = std::make_unique<PortalRequest>(bus, token, [this](uint code, const QVariantMap& results) {
    if (code != 0) return fail(QStringLiteral("it refused to open a session"));
    created(results);
  });
  // The shortcuts go with the session too: the first version of the
  // interface took them there, and Plasma 5.27 reads them nowhere else.
  const QVariantMap options{{QStringLiteral("handle_token"), token},
                            {QStringLiteral("session_handle_token"), kSessionToken},
                            {QStringLiteral("shortcuts"), list_}};
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(portalCall(QStringLiteral("CreateSession"), {options})), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    if (w->isError()) fail(w->error().message());
  });
}

void ShortcutPortal::created(const QVariantMap& results) {
  session_ = results.value(QStringLiteral("session_handle")).toString();
  if (session_.isEmpty()) return fail(QStringLiteral("it opened no session"));
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
              SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
  bus.connect(kService, kPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
              SLOT(onShortcutsChanged(QDBusMessage)));
  // A desktop that bound them with the session has answered already;
  // asking again would only open its settings.
  if (results.contains(QStringLiteral("shortcuts"))) {
    const QMap<QString, QString> triggers = triggersOf(results.value(QStringLiteral("shortcuts")));
    bool all = true;
    for (const Shortcut& s : wanted_) all = all && triggers.contains(s.id);
    if (all) {
      dropRequest();
      emit bound(triggers);
      return;
    }
  }
  dropRequest();
  const QString token = QStringLiteral("kestrel_%1").arg(++requests_);
  request_ = std::make_unique<PortalRequest>(bus, token, [this](uint code, const QVariantMap& answer) {
    if (code == 1) return fail(QStringLiteral("the request was declined"));
    if (code != 0) return fail(QStringLiteral("it could not bind them"));
    finish(answer);
  });
  auto* watcher = new QDBusPendingCallWatcher(
      bus.asyncCall(portalCall(QStringLiteral("BindShortcuts"),
                               {QVariant::fromValue(QDBusObjectPath(session_)), list_,
                                QString(), QVariantMap{{QStringLiteral("handle_token"), token}}})),
      this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    if (w->isError()) fail(w->error().message());
  });
}

// The answer comes from inside the request's own slot: it goes once that
// has returned.
void ShortcutPortal::dropRequest() {
  if (request_) request_.release()->deleteLater();
}

void ShortcutPortal::finish(const QVariantMap& results) {
  dropRequest();
  emit bound(triggersOf(results.value(QStringLiteral("shortcuts"))));
}

void ShortcutPortal::fail(const QString& reason) {
  dropRequest();
  emit failed(reason);
}

void ShortcutPortal::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&) {
  if (session.path() == session_) emit activated(id);
}

void ShortcutPortal::onShortcutsChanged(const QDBusMessage& message) {
  const QVariantList args = message.arguments();
  if (args.size() < 2 || args[0].value<QDBusObjectPath>().path() != session_) return;
  emit changed(triggersOf(args[1]));
}

}  // namespace wnd

#include "shortcutportal.moc"
