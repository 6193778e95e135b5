#pragma once
// Which screen source the program reads (the X server, or the desktop's
// screen-cast portal in a Wayland session), chosen once at start-up from
// the settings, and the check before a preview that it can see the screen.
#include <QString>

namespace components {
class SettingsStore;
}

namespace app {

// [setup] grabsource = auto (default), x11 or portal. The portal's
// permission is kept as [screencast] restoretoken and written at once
// whenever the desktop hands out a new one, so the next recording does not
// ask again even if the program is not left by Exit.
void chooseGrabSource(components::SettingsStore& store);

// Readies the source before the preview starts (the portal may ask the
// user). On failure the reason is shown in one box and false comes back:
// nothing is recorded that the program cannot see. `pointer`: the mouse
// pointer is wanted in the frames (a source that cannot show it says so,
// once).
bool grabSourceReady(bool pointer = false);

// The box's text for a source that cannot see the screen.
QString grabSourceProblem(const QString& reason);

}  // namespace app
