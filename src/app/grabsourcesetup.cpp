#include "app/grabsourcesetup.h"

#include <QCoreApplication>

#include "components/settingsstore.h"
#include "framework/dialogs.h"
#include "platform/window/display.h"
#include "platform/window/grabsource.h"

namespace app {

namespace {

const QString kSetup = QStringLiteral("setup");
const QString kCast = QStringLiteral("screencast");

}  // namespace

void chooseGrabSource(components::SettingsStore& store) {
  store.setSaveToINI(true);
  store.OpenStore();
  const QString kind = store.ReadString(kSetup, QStringLiteral("grabsource"), QStringLiteral("auto"));
  const QString token = store.ReadString(kCast, QStringLiteral("restoretoken"), QString());
  store.CloseStore();
  wnd::ScreenCastPermission permission{token.toStdString(), [&store](const std::string& t) {
                                         // Losing the token only means being asked again.
                                         try {
                                           store.setSaveToINI(true);
                                           store.OpenStore();
                                           store.WriteString(kCast, QStringLiteral("restoretoken"),
                                                             QString::fromStdString(t));
                                         } catch (...) {
                                         }
                                         store.CloseStore();
                                       }};
  wnd::ChooseGrabSource(wnd::ParseGrabSourceKind(kind.toStdString()), std::move(permission));
  // A screen cast is closed with the desktop while the bus connection
  // still exists, not among the static objects after the application.
  static bool releaseHooked = false;
  if (!releaseHooked && QCoreApplication::instance()) {
    releaseHooked = true;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     [] { wnd::SetGrabSource(nullptr); });
  }
}

QString grabSourceProblem(const QString& reason) {
  QString r = reason;
  if (!r.endsWith(QLatin1Char('.'))) r += QLatin1Char('.');
  return r + QStringLiteral("\nNothing is recorded until Kestrel can see the screen: click the X to try again.");
}

bool grabSourceReady(bool pointer) {
  try {
    wnd::GrabSource& source = wnd::CurrentGrabSource();
    source.showPointer(pointer);
    source.prepare();
    static bool pointerProblemTold = false;
    if (const std::string problem = source.pointerProblem(); pointer && !problem.empty() && !pointerProblemTold) {
      pointerProblemTold = true;
      framework::ShowMessage(QString::fromStdString(problem) + QStringLiteral("."));
    }
    return true;
  } catch (const wnd::Error& e) {
    framework::ShowMessage(grabSourceProblem(QString::fromUtf8(e.what())));
    return false;
  }
}

}  // namespace app
