#include "builder/builderpanel.h"

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include "builder/avibuilder.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/errors.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/widgets.h"
#include "platform/gdi/bmpfile.h"
#include "recording/aviwriter.h"
#include "recording/session.h"

namespace builder {

using framework::named;

// Sees Esc in any widget of the panel's window while a build runs: the key
// would otherwise reach the window only when no child widget (the list, the
// rate box) takes it first. The filter only looks, so the widgets still get
// their keys.
class EscWatcher : public QObject {
 public:
  explicit EscWatcher(BuilderPanel* panel) : panel_(panel) { qApp->installEventFilter(this); }
  ~EscWatcher() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* obj, QEvent* e) override {
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
      auto* w = qobject_cast<QWidget*>(obj);
      if (w && w->window() == panel_->window()) panel_->requestAbort();
    }
    return false;
  }

 private:
  BuilderPanel* panel_;
};

// Marks a build as running for its whole length, however it ends (an
// exception from a file that cannot be read included): the commands that
// would disturb it are disabled, Esc is watched, and all is put back after.
class BuildScope {
 public:
  explicit BuildScope(BuilderPanel* p) : p_(p), esc_(p) { set(true); }
  ~BuildScope() { set(false); }
  BuildScope(const BuildScope&) = delete;
  BuildScope& operator=(const BuildScope&) = delete;

 private:
  void set(bool building) {
    p_->building_ = building;
    p_->abort_ = false;
    for (QWidget* w : {p_->addButton_, p_->makeButton_, p_->clearButton_}) w->setEnabled(!building);
    emit p_->buildingChanged(building);
  }
  BuilderPanel* p_;
  EscWatcher esc_;
};

BuilderPanel::BuilderPanel(framework::StatusBar* status, framework::FileDialog& saveDialog,
                           const recording::Session& session, QWidget* parent)
    : QWidget(parent),
      addFileDialog_(framework::FileDialog::Kind::Open, QStringLiteral("OpenDialog1")),
      status_(status),
      saveDialog_(saveDialog),
      session_(session) {
  setObjectName(QStringLiteral("Panel1"));
  setAutoFillBackground(true);
  addFileDialog_.DefaultExt = QStringLiteral(".bmp");
  addFileDialog_.Filter = QStringLiteral("Bitmap|*.bmp");

  files_ = named<QListWidget>(this, "ListBox1");
  addButton_ = named<QPushButton>(this, "Button1", QStringLiteral("Add File"));
  makeButton_ = named<QPushButton>(this, "Button3", QStringLiteral("Make Avi"));
  clearButton_ = named<QPushButton>(this, "Button8", QStringLiteral("Clear List"));
  rateLabel_ = named<QLabel>(this, "Label2", QStringLiteral("Frame Rate"));
  rateEdit_ = named<QLineEdit>(this, "Edit1", QStringLiteral("1"));
  rateLabel_->setBuddy(rateEdit_);
  frameView_ = new framework::Image(this, QStringLiteral("Image3"));
  frameView_->setMinimumSize(120, 90);
  scaleNote_ = named<QLabel>(this, "Label1", QStringLiteral("No Actual Size"));
  ruleLine1_ = named<QLabel>(this, "Label3", QStringLiteral("All Files must have the"));
  ruleLine2_ = named<QLabel>(this, "Label4", QStringLiteral("the exact format and size"));
  progress_ = named<QProgressBar>(this, "ProgressBar1");
  progress_->setRange(0, 100);
  progress_->setValue(0);

  auto* grid = new QGridLayout(this);
  grid->addWidget(files_, 0, 0, 6, 1);
  grid->addWidget(addButton_, 0, 1);
  grid->addWidget(clearButton_, 1, 1);
  grid->addWidget(makeButton_, 2, 1);
  grid->addWidget(rateLabel_, 3, 1);
  grid->addWidget(rateEdit_, 4, 1);
  grid->addWidget(ruleLine1_, 6, 0);
  grid->addWidget(ruleLine2_, 7, 0);
  grid->addWidget(scaleNote_, 6, 1);
  grid->addWidget(frameView_, 7, 1, 2, 1);
  grid->addWidget(progress_, 9, 0, 1, 2);

  framework::onClicked({{addButton_, [this] { addFile(); }},
                        {makeButton_, [this] { buildFromList(); }},
                        {clearButton_, [this] { clearList(); }}});
}

QString BuilderPanel::rateText() const { return rateEdit_->text(); }

void BuilderPanel::showRecordingStatus(const QString& text) { rateLabel_->setText(text); }

void BuilderPanel::addFile() {
  if (addFileDialog_.Execute(window())) files_->addItem(addFileDialog_.FileName);
}

void BuilderPanel::clearList() { files_->clear(); }

void BuilderPanel::buildFromList() {
  if (files_->count() == 0 || building_) return;
  // One heavy job at a time: a recording keeps its file until it is
  // stopped or cancelled.
  if (session_.isFileOpen()) {
    framework::ShowMessage(QStringLiteral("A recording is in progress. Stop it before building an AVI file."));
    return;
  }
  makeAvi();
}

void BuilderPanel::makeAvi() {
  // The list and the rate are taken once: the build runs on them whatever
  // happens to the panel meanwhile.
  const int n = files_->count();
  if (n == 0) return;
  BuildJob job;
  for (int i = 0; i < n; ++i) job.files << files_->item(i)->text();
  // A rate no file can be timed by is refused before anything is asked or
  // created, by the same rule as a recording's.
  QString problem;
  if (!recording::parseFrameRate(rateEdit_->text(), job.rate, problem, makeButton_->text())) {
    framework::ShowMessage(problem);
    return;
  }

  if (!saveDialog_.Execute(window())) return;
  job.outputFile = saveDialog_.FileName;
  if (const QString input = inputThatIsOutput(job.outputFile, job.files); !input.isEmpty()) {
    framework::MessageBox(outputIsInputText(job.outputFile, input), QStringLiteral("ERROR"));
    return;
  }

  BuildScope scope(this);
  const gdi::Bitmap first = gdi::loadBmp(job.files[0]);
  frameView_->setPicture(first);
  std::vector<std::uint8_t> format;
  if (!recording::frameFormat(first, format)) {
    framework::MessageBox(QStringLiteral("ERROR: Unable to Initialize Image Data"),
                          QStringLiteral("Terminating Process"));
    return;
  }
  // The dialog's size of a minute is at the build's rate.
  if (!recording::chooseCompressor(format, QStringLiteral("Choose Compression"), job.compressor, job.rate)) return;

  AviBuilder builder;
  builder.onFrameLoaded = [this](const gdi::Bitmap& frame, int) {
    frameView_->setPicture(frame);
    frameView_->repaint();
    framework::ProcessMessages();
  };
  builder.onFrameWritten = [this](int) {
    framework::ProcessMessages();
    return abort_;
  };
  // Esc is offered once the stream is open: a file that cannot be created
  // shows its error box without an offer to abort under it.
  const QString before = status_->SimpleText();
  builder.onOpened = [this] { status_->setSimpleText(QStringLiteral("Press [ESC] to Abort")); };
  BuildResult result;
  try {
    result = builder.build(job);
  } catch (...) {
    // The frames so far stay in the file; the loader's message goes to
    // the error box.
    status_->setSimpleText(before);
    throw;
  }

  if (result.outcome == BuildOutcome::NotOpened) {
    // The first file changed under the compressor dialog.
    status_->setSimpleText(before);
    framework::MessageBox(QStringLiteral("ERROR: Unable to Initialize Image Data"),
                          QStringLiteral("Terminating Process"));
    return;
  }
  if (result.outcome == BuildOutcome::Completed) {
    framework::ProcessMessages();
    status_->setSimpleText(QStringLiteral("AVI Completed"));
  }
  progress_->setValue(1);
  if (result.outcome == BuildOutcome::Failed) {
    framework::MessageBox(result.error, QStringLiteral("ERROR"));
    status_->setSimpleText(QStringLiteral("Use Image Conversion Tool"));
  } else if (result.outcome == BuildOutcome::Aborted) {
    const int written = result.framesWritten;
    status_->setSimpleText(written == 1 ? QStringLiteral("AVI stopped: 1 frame written")
                                        : QStringLiteral("AVI stopped: %1 frames written").arg(written));
  }
}

}  // namespace builder
