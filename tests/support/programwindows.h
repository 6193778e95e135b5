#pragma once
// The program's windows for one test, created as at start-up and destroyed
// at the end, with the settings folder ($XDG_CONFIG_HOME) in a private
// temporary place so that no test reads or writes the preferences of
// whoever runs the tests.
#include <QAction>
#include <QPushButton>
#include <QString>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/windows.h"
#include "platform/gdi/bitmap.h"
#include "support/profile/helpers.h"

namespace testsupport {

// A window's part by its objectName (the designer name); throws when it
// has none of that name and type, which fails the test that asked.
template <class T = QPushButton>
T* control(const QObject* window, const char* name) {
  T* found = window ? window->findChild<T*>(QLatin1String(name)) : nullptr;
  if (!found) throw std::logic_error(std::string("no control named ") + name);
  return found;
}
// A command of the main window's menus (not a submenu's own item) by name.
QAction* menuItem(const char* name);

// From now on the program's grabs show `picture` instead of the screen.
void showOnScreen(const gdi::Bitmap& picture);

class ProgramWindows {
 public:
  enum class Preferences {
    Ignored,  // the one-off loading tick is stopped: a test's menu ticks stay
    Pending,  // as at start-up: the loading tick runs when events are pumped
    Loaded,   // the loading tick has run (kestrel.ini as the test left it)
  };
  explicit ProgramWindows(Preferences p = Preferences::Ignored);
  ~ProgramWindows();
  ProgramWindows(const ProgramWindows&) = delete;
  ProgramWindows& operator=(const ProgramWindows&) = delete;

  // Ends this run of the program and starts the next, same settings.
  void restart();
  // Ends this run (an open recording is completed first).
  void close();
  // Starts a run again after close().
  void open();
  // The settings folder: $XDG_CONFIG_HOME/kestrel (not created here).
  std::filesystem::path settingsDir() const { return home_.dir(); }

 private:
  settingstest::ConfigHome home_;
  Preferences prefs_;
  std::unique_ptr<app::Windows> windows_;
};

// A test whose every case starts the program afresh.
class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { program = std::make_unique<ProgramWindows>(); }
  void TearDown() override { program.reset(); }
  std::unique_ptr<ProgramWindows> program;
};

}  // namespace testsupport

// The windows of the ProgramWindows that is open now (nullptr when none).
app::MainWindow* mainWindow();
recording::Session& session();
target::RemoteControl* remoteControl();
target::CaptureModeDialog* captureModeDialog();
target::PictureWindow* pictureWindow();
target::CaptureFrame* captureFrame();
app::KeepPreviewDialog* keepPreviewDialog();
app::FrameRateDialog* frameRateDialog();
app::OptionsDialog* optionsDialog();
