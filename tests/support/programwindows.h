#pragma once
// The program's windows for one test, created as at start-up and destroyed
// at the end, with the settings folder ($XDG_CONFIG_HOME) in a private
// temporary place so that no test reads or writes the preferences of
// whoever runs the tests.
#include <QString>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "app/windows.h"
#include "support/profile/helpers.h"

namespace testsupport {

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
recording::Recorder& recorder();
target::RemoteControl* remoteControl();
target::CaptureModeDialog* captureModeDialog();
target::PictureWindow* pictureWindow();
target::CaptureFrame* captureFrame();
app::KeepPreviewDialog* keepPreviewDialog();
app::FrameRateDialog* frameRateDialog();
app::OptionsDialog* optionsDialog();
