#include "app/optionsdialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/frameratedialog.h"
#include "framework/statusbar.h"
#include "framework/widgets.h"

namespace app {

using framework::named;

OptionsDialog::OptionsDialog(FrameRateDialog* frameRate, QWidget* parent)
    : QWidget(parent, Qt::Window), frameRate_(frameRate) {
  setObjectName(QStringLiteral("Form9"));
  setWindowTitle(QStringLiteral("Options"));
  auto* lay = new QVBoxLayout(this);
  group_ = named<QGroupBox>(this, "GroupBox1", QStringLiteral("Options"));
  stretch_ = named<QCheckBox>(group_, "CheckBox1", QStringLiteral("Stetch Image"));
  remote_ = named<QCheckBox>(group_, "CheckBox2", QStringLiteral("Remote Control"));
  finalPreview_ = named<QCheckBox>(group_, "CheckBox3", QStringLiteral("Final Preview"));
  pointer_ = named<QCheckBox>(group_, "PointerBox", QStringLiteral("Record the mouse pointer"));
  frameRateButton_ = named<QPushButton>(group_, "Button1", QStringLiteral("Frame Rate"));
  okButton_ = named<QPushButton>(group_, "Button2", QStringLiteral("OK"));
  helpButton_ = named<QPushButton>(group_, "Button3", QStringLiteral("Help"));
  helpButton_->hide();
  framework::addWidgets(new QVBoxLayout(group_), {stretch_, remote_, finalPreview_, pointer_, frameRateButton_, okButton_, helpButton_});
  auto* shortcuts = named<QGroupBox>(this, "ShortcutsBox", QStringLiteral("Global shortcuts"));
  auto* keys = new QFormLayout(shortcuts);
  startStopKey_ = named<QKeySequenceEdit>(shortcuts, "StartStopKey");
  pauseKey_ = named<QKeySequenceEdit>(shortcuts, "PauseKey");
  for (QKeySequenceEdit* e : {startStopKey_, pauseKey_}) {
    e->setClearButtonEnabled(true);
    e->setAttribute(Qt::WA_NoMousePropagation);
  }
  keys->addRow(QStringLiteral("Start/Stop:"), startStopKey_);
  keys->addRow(QStringLiteral("Pause/UnPause:"), pauseKey_);
  shortcutsNote_ = named<QLabel>(shortcuts, "ShortcutsNote");
  shortcutsNote_->setWordWrap(true);
  shortcutsNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  shortcutsNote_->hide();
  keys->addRow(shortcutsNote_);
  shortcuts->setAttribute(Qt::WA_NoMousePropagation);
  lay->addWidget(shortcuts);
  // Both off by default: a recording is the pictures alone unless asked.
  auto* sound = named<QGroupBox>(this, "SoundGroup", QStringLiteral("Sound"));
  desktopSound_ = named<QCheckBox>(sound, "SoundDesktop", QStringLiteral("Record what the desktop plays"));
  microphone_ = named<QCheckBox>(sound, "SoundMicrophone", QStringLiteral("Record the microphone"));
  soundCompressed_ = named<QCheckBox>(sound, "SoundCompressed", QStringLiteral("Compress the sound (MP3, 128 kbit/s)"));
  framework::addWidgets(new QVBoxLayout(sound), {desktopSound_, microphone_, soundCompressed_});
  lay->addWidget(sound);
  // Last, so that its OK ends the dialog.
  lay->addWidget(group_);
  hintLine_ = new framework::StatusBar(this, QStringLiteral("StatusBar1"));
  hintLine_->setSizeGripEnabled(false);
  lay->addWidget(hintLine_);
  framework::onClicked({{frameRateButton_, [this] { showFrameRate(); }},
                        {okButton_, [this] { confirm(); }},
                        {helpButton_, [this] { showHelp(); }}});

  // Only the dialog, the group box and "Stetch Image" react to the mouse
  // passing over them. Every other control keeps its mouse moves to itself,
  // so passing over it leaves the hint line as it was instead of letting
  // the group box or the dialog behind it clear the line.
  setMouseTracking(true);
  group_->setMouseTracking(true);
  stretch_->setMouseTracking(true);
  group_->installEventFilter(this);
  stretch_->installEventFilter(this);
  for (QWidget* w : std::initializer_list<QWidget*>{group_, stretch_, remote_, finalPreview_, pointer_, frameRateButton_, okButton_,
                                                    helpButton_, hintLine_, sound, desktopSound_, microphone_,
                                                    soundCompressed_})
    w->setAttribute(Qt::WA_NoMousePropagation);
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    if (watched == stretch_)
      hintStretch();
    else if (watched == group_)
      hintNothingInGroup();
  }
  return QWidget::eventFilter(watched, event);
}

void OptionsDialog::mouseMoveEvent(QMouseEvent* event) {
  hintNothing();
  QWidget::mouseMoveEvent(event);
}

void OptionsDialog::hintStretch() {
  hintLine_->setSimpleText(QStringLiteral("Stretch the viewing image to fit the preview window."));
}

void OptionsDialog::hintNothingInGroup() { hintLine_->setSimpleText(QString()); }

void OptionsDialog::hintNothing() { hintLine_->setSimpleText(QString()); }

void OptionsDialog::showShortcutsNote(const QString& text) {
  shortcutsNote_->setText(text);
  shortcutsNote_->setVisible(!text.isEmpty());
  if (isVisible()) fitHeight();
}

// The note wraps, and a window keeps the height it was first given, which
// a longer note would be cut by: the window grows to the note's lines at
// its width.
void OptionsDialog::fitHeight() {
  layout()->activate();
  if (!layout()->hasHeightForWidth()) return;
  const int h = layout()->totalHeightForWidth(width());
  if (h > height()) resize(width(), h);
}

void OptionsDialog::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  fitHeight();
}

void OptionsDialog::showFrameRate() {
  frameRate_->show();
  frameRate_->raise();
  frameRate_->activateWindow();
}

void OptionsDialog::confirm() {
  hide();
  emit closed();
}

// The help button is hidden and has nothing to say.
void OptionsDialog::showHelp() {}

}  // namespace app
