#pragma once
// What the requests of the desktop portal (xdg-desktop-portal) share.
#include <QDBusConnection>
#include <QString>

namespace wnd {

// The object path the portal gives a request that this connection makes with
// `token` (its handle_token): known before the call, so that the request's
// Response is subscribed to before it can come.
inline QString portalRequestPath(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

}  // namespace wnd
