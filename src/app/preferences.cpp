#include <QAction>
#include <QCheckBox>
#include <QKeySequenceEdit>
#include <QLineEdit>

#include "app/frameratedialog.h"
#include "app/globalshortcuts.h"
#include "app/grabsourcesetup.h"
#include "app/mainwindow.h"
#include "app/optionsdialog.h"
#include "components/settingsstore.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "framework/widgets.h"
#include "target/remotecontrol.h"

// The preferences live in the controls that carry them; this file loads
// them once after start-up and saves them on the toolbar's "Exit".

namespace app {

using framework::checkOneOf;

namespace {

const QString kSection = QStringLiteral("setup");
const QString kFrameRateKey = QStringLiteral("framerate");
const QString kPointerKey = QStringLiteral("pointer");
const QString kStartStopKey = QStringLiteral("startstopkey");
const QString kPauseKey = QStringLiteral("pausekey");

const QString kNoKeys = QStringLiteral("none");

// A shortcut as kept: its portable text ("Ctrl+Alt+Shift+F9"), or "none"
// (an empty value reads as a missing one: the default).
QKeySequence readKeys(components::SettingsStore& s, const QString& key, GlobalShortcuts::Command c) {
  const QString text = s.ReadString(kSection, key, QString());
  if (text.isEmpty()) return GlobalShortcuts::defaultKeys(c);
  if (text.compare(kNoKeys, Qt::CaseInsensitive) == 0) return {};
  return QKeySequence::fromString(text, QKeySequence::PortableText);
}

QString keysText(const QKeySequence& k) { return k.isEmpty() ? kNoKeys : k.toString(QKeySequence::PortableText); }

}  // namespace

// The check marks kept in kestrel.ini, in the order they are written. The
// options dialog's boxes stand for "stretch", "on1" and "ask1" when saving:
// what the user set there is what is kept.
std::vector<MainWindow::CheckPreference> MainWindow::checkPreferences() const {
  return {
      {"stretch", false, stretch_, peers_.options->stretchBox()},
      {"nonstrech", true, noStretch_, nullptr},
      {"single", false, singleImage_, nullptr},
      {"avi", true, aviCapture_, nullptr},
      {"on1", true, remoteOn_, peers_.options->remoteBox()},
      {"off1", false, remoteOffItem_, nullptr},
      {"ask1", false, askPreview_, peers_.options->finalPreviewBox()},
      {"keep1", false, keepPreview_, nullptr},
      {"on2", true, snapshotsOn_, nullptr},
      {"off2", false, snapshotsOff_, nullptr},
      {"sounddesktop", false, nullptr, peers_.options->desktopSoundBox()},
      {"soundmic", false, nullptr, peers_.options->microphoneBox()},
      {"soundmp3", false, nullptr, peers_.options->soundCompressedBox()},
  };
}

void MainWindow::loadPreferences() {
  // Once: loaded early (a recording from the command line), not again.
  loadTimer_->setEnabled(false);
  settings_->setSaveToINI(true);
  settings_->OpenStore();
  for (const CheckPreference& p : checkPreferences()) {
    const bool on = settings_->ReadBool(kSection, QLatin1String(p.key), p.byDefault);
    if (p.item) p.item->setChecked(on);
    if (p.box) p.box->setChecked(on);
  }
  peers_.frameRate->setRateText(settings_->ReadString(kSection, kFrameRateKey, QStringLiteral("2")));
  // Off unless chosen: frames stay as the screen shows them.
  peers_.options->pointerBox()->setChecked(settings_->ReadBool(kSection, kPointerKey, false));
  peers_.options->startStopKeyEdit()->setKeySequence(readKeys(*settings_, kStartStopKey, GlobalShortcuts::Command::StartStop));
  peers_.options->pauseKeyEdit()->setKeySequence(readKeys(*settings_, kPauseKey, GlobalShortcuts::Command::Pause));
  settings_->CloseStore();
  chooseGrabSource(*settings_);

  // "Stetch Image" and "Remote Control" take effect at the next start, as
  // "Final Preview" does: a stored choice that changed nothing would look
  // like a setting that was never saved. The stored "Stetch Image" decides
  // between the two stretch commands, "Remote Control" between On and Off.
  chooseStretch(stretch_->isChecked());
  chooseRemote(remoteOn_->isChecked());
}

void MainWindow::savePreferences() {
  settings_->setSaveToINI(true);
  settings_->OpenStore();
  // A failed write raises "Unable to write to ..." here, before the window
  // closes; the store is closed on the way out all the same.
  try {
    for (const CheckPreference& p : checkPreferences())
      settings_->WriteBool(kSection, QLatin1String(p.key), p.box ? p.box->isChecked() : p.item->isChecked());
    settings_->WriteString(kSection, kFrameRateKey, peers_.frameRate->rateText());
    settings_->WriteBool(kSection, kPointerKey, peers_.options->pointerBox()->isChecked());
    settings_->WriteString(kSection, kStartStopKey, keysText(peers_.options->startStopKeyEdit()->keySequence()));
    settings_->WriteString(kSection, kPauseKey, keysText(peers_.options->pauseKeyEdit()->keySequence()));
  } catch (...) {
    settings_->CloseStore();
    throw;
  }
  settings_->CloseStore();
}

void MainWindow::chooseStretch(bool stretch) {
  if (stretch)
    checkOneOf(stretch_, noStretch_);
  else
    checkOneOf(noStretch_, stretch_);
  preview_->setStretch(stretch);
}

void MainWindow::chooseRemote(bool shown) {
  if (shown)
    checkOneOf(remoteOn_, remoteOffItem_);
  else
    checkOneOf(remoteOffItem_, remoteOn_);
  remoteOff_ = !shown;
}

void MainWindow::toggleRemoteMoveable() {
  remoteMoveable_ = !remoteMoveableItem_->isChecked();
  remoteMoveableItem_->setChecked(remoteMoveable_);
}

}  // namespace app
