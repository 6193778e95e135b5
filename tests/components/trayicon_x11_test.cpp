// The tray icon in a real notification area: trayer (an XEmbed tray host)
// on the test's X server, and real mouse clicks on the icon.
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include "components/trayicon.h"
#include "support/modal.h"

using testsupport::pumpFor;
using testsupport::pumpUntil;

namespace {

void xdotool(const QStringList& args) { ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), args), 0) << args.join(' ').toStdString(); }

}  // namespace

TEST(TrayIconX11, ClicksOnTheRealIconBecomeEventsAndDeactivationRemovesIt) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  QProcess trayer;
  trayer.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "120",
                                          "--height", "32", "--SetDockType", "true", "--transparent", "false"});
  ASSERT_TRUE(trayer.waitForStarted(5000)) << "trayer is missing";
  ASSERT_TRUE(pumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000)) << "no tray host appeared";
  // trayer claims the tray before the window manager has put its panel on
  // the screen; an icon docked into a panel that is not shown yet may never
  // show. Wait for the panel, as a person sees the tray before using it.
  ASSERT_TRUE(pumpUntil(
      [] {
        return QProcess::execute(QStringLiteral("xdotool"),
                                 {"search", "--onlyvisible", "--class", "trayer"}) == 0;
      },
      10000))
      << "the tray host's panel never showed";

  components::TrayIcon tray(nullptr, QStringLiteral("TrayIcon1"));
  QPixmap px(22, 22);
  px.fill(Qt::red);
  tray.setIcon(QIcon(px));
  QStringList events;
  tray.OnClick = [&](QObject*) { events << "click"; };
  tray.OnDblClick = [&](QObject*) { events << "dblclick"; };
  tray.setActive(true);
  QRect where;
  ASSERT_TRUE(pumpUntil(
      [&] {
        where = shell::notifyIconGeometry(tray.messageWindow(), 0);
        return where.isValid() && !where.isEmpty();
      },
      10000))
      << "the icon never showed in the tray";
  pumpFor(300);  // let the embedding settle
  where = shell::notifyIconGeometry(tray.messageWindow(), 0);
  const QPoint c = where.center();
  xdotool({"mousemove", QString::number(c.x()), QString::number(c.y())});
  xdotool({"click", "1"});
  ASSERT_TRUE(pumpUntil([&] { return !events.isEmpty(); }, 5000));
  EXPECT_EQ(events, QStringList{"click"});
  pumpFor(600);  // well past the double-click interval
  events.clear();
  xdotool({"click", "--repeat", "2", "--delay", "60", "1"});
  ASSERT_TRUE(pumpUntil([&] { return events.size() >= 3; }, 5000));
  EXPECT_EQ(events, (QStringList{"click", "dblclick", "click"}));

  tray.setActive(false);
  pumpFor(100);
  EXPECT_TRUE(shell::notifyIconGeometry(tray.messageWindow(), 0).isEmpty());
  trayer.terminate();
  trayer.waitForFinished(3000);
}
