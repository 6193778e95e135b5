// The AVI builder: an AVI file built, not in real time, from the ordered
// list of bitmap files on the builder panel, at the panel's frame rate.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <array>
#include <future>

#include "app/main.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/errors.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "platform/gdi/bmpfile.h"
#include "recording/aviwriter.h"

namespace {

// Sees Esc in any of the main window's widgets while a build runs. The key
// would otherwise reach TForm1::keyPressEvent only when no child widget
// (the list, the rate box) takes it first; the filter only looks, so the
// widgets still get their keys.
class EscWatcher : public QObject {
 public:
  explicit EscWatcher(TForm1* form) : form_(form) { qApp->installEventFilter(this); }
  ~EscWatcher() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* obj, QEvent* e) override {
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
      auto* w = qobject_cast<QWidget*>(obj);
      if (w && w->window() == form_ && form_->buildRunning) form_->buildAbort = true;
    }
    return false;
  }

 private:
  TForm1* form_;
};

// Marks a build as running for its whole length, however it ends (an
// exception from a file that cannot be read included): the commands that
// would disturb it are disabled, Esc is watched, and all is put back after.
class BuildScope {
 public:
  explicit BuildScope(TForm1* f) : f_(f), esc_(f) {
    f_->buildRunning = true;
    f_->buildAbort = false;
    for (QWidget* w : widgets()) w->setEnabled(false);
    f_->Open1->setEnabled(false);
    f_->Close1->setEnabled(false);
  }
  ~BuildScope() {
    f_->buildRunning = false;
    f_->buildAbort = false;
    for (QWidget* w : widgets()) w->setEnabled(true);
    f_->Open1->setEnabled(true);
    f_->Close1->setEnabled(true);
  }
  BuildScope(const BuildScope&) = delete;
  BuildScope& operator=(const BuildScope&) = delete;

 private:
  std::array<QWidget*, 3> widgets() const { return {f_->Button1, f_->Button3, f_->Button8}; }
  TForm1* f_;
  EscWatcher esc_;
};

// Loads the build's files one ahead of the frame being written, on a thread
// of its own: reading and checking a full-screen bitmap costs a tenth of a
// compressed frame, and a second core sits idle while the encoder runs.
// Frames still come in list order, and a file that cannot be read reports
// its error at its own turn, after every frame before it was written.
class ReadAhead {
 public:
  explicit ReadAhead(QStringList files) : files_(std::move(files)) { start(0); }
  ~ReadAhead() {
    // A build that stops early waits for the load still running.
    if (pending_.valid()) pending_.wait();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The bitmap of the next file (the loader's exception if it has none);
  // the file after it starts loading.
  gdi::Bitmap next() {
    gdi::Bitmap b = pending_.get();
    start(++index_);
    return b;
  }

 private:
  void start(qsizetype i) {
    if (i < files_.size())
      pending_ = std::async(std::launch::async, [path = files_[i]] { return gdi::loadBmp(path); });
  }

  QStringList files_;
  qsizetype index_ = 0;
  std::future<gdi::Bitmap> pending_;
};

bool isFormatRefusal(std::int32_t result) {
  return result == vfw::AVIERR_BADFORMAT || result == vfw::AVIERR_UNSUPPORTED;
}

}  // namespace

void TForm1::Open1Click() {
  // Panel1 shares the client area with the preview and covers all of it.
  Panel1->show();
  Panel1->raise();
}

void TForm1::Close1Click() { Panel1->hide(); }

void TForm1::Button1Click() {
  if (OpenDialog1.Execute(this)) ListBox1->addItem(OpenDialog1.FileName);
}

void TForm1::Button8Click() { ListBox1->clear(); }

void TForm1::Button3Click() {
  if (ListBox1->count() == 0 || buildRunning) return;
  // The build would end with frameIndex := -1, which tells the recorder that
  // no file is open: an open recording would be cut off from its file.
  if (frameIndex != -1 || TAviWriterState::opened) {
    forms::ShowMessage(QStringLiteral("A recording is in progress. Stop it before building an AVI file."));
    return;
  }
  GenerateAVI();
  // A recording may have been started from a pump during the build; its
  // counter must stay.
  if (!TAviWriterState::opened) frameIndex = -1;
}

void TForm1::GenerateAVI() {
  // The list and the rate are taken once: the build runs on them whatever
  // happens to the panel meanwhile.
  const int n = ListBox1->count();
  if (n == 0) return;
  QStringList files;
  for (int i = 0; i < n; ++i) files << ListBox1->item(i)->text();
  const QString rateText = Edit1->text();

  // A rate of 0 or below would give a stream that no player can time; it is
  // refused before anything is asked or created. Text that is no number at
  // all is reported where the rate is read, below.
  bool isNumber = false;
  const int rate = forms::StrToIntDef(rateText, 0, &isNumber);
  if (isNumber && rate <= 0) {
    forms::ShowMessage(QStringLiteral("The frame rate must be a whole number of at least 1."));
    return;
  }

  if (!SaveDialog1.Execute(this)) return;

  BuildScope scope(this);
  TAviWriterState w;
  // A frame compresses while the next one is converted; nothing needs a
  // frame in the file before the build is over.
  w.overlapFrames = true;
  gdi::Bitmap frame = gdi::loadBmp(files[0]);
  Image3->setPicture(frame);

  const OpenOutcome outcome =
      openvideostream(w, frame, QStringLiteral("Choose Compression"), SaveDialog1.FileName,
                      [&rateText](vfw::AVISTREAMINFO& si) { si.dwRate = vfw::DWORD(forms::StrToInt(rateText)); });
  if (outcome == OpenOutcome::FrameDataFailed || outcome == OpenOutcome::DialogCancelled) return;

  bool failed = outcome == OpenOutcome::LibraryFailure;
  bool aborted = false;
  int written = 0;
  QString errorText;
  if (!failed) {
    const QString before = StatusBar1->SimpleText();
    StatusBar1->setSimpleText(QStringLiteral("Press [ESC] to Abort"));
    // Row 0 is read again: the file may have changed while the dialog showed.
    ReadAhead ahead(files);
    for (int i = 0; i < n; ++i) {
      try {
        frame = ahead.next();
      } catch (...) {
        // The frames so far stay in the file; the loader's message goes to
        // the error box.
        releasevideostream(w);
        StatusBar1->setSimpleText(before);
        throw;
      }
      Image3->setPicture(frame);
      Image3->repaint();
      forms::ProcessMessages();

      std::uint32_t hs = 0, is = 0;
      if (!DIBFrameSizes(frame, hs, is) || hs != w.headerSize || is != w.imageSize) {
        errorText = QStringLiteral("ERROR: Image Format");
        failed = true;
        break;
      }
      const std::int32_t result = writevideoframe(w, frame, i);
      if (result != 0) {
        if (isFormatRefusal(result)) errorText = QStringLiteral("ERROR: Image Format");
        failed = true;
        break;
      }
      ++written;
      forms::ProcessMessages();
      if (buildAbort) {
        aborted = true;
        break;
      }
    }
    // The last frame handed over is in the file only once this returns; if
    // it fails, that frame's write failed.
    if (!failed && finishvideoframes(w) != 0) {
      failed = true;
      aborted = false;
    }
    if (!failed && !aborted) {
      forms::ProcessMessages();
      StatusBar1->setSimpleText(QStringLiteral("AVI Completed"));
    }
    releasevideostream(w);
  }

  ProgressBar1->setValue(1);
  if (failed) {
    forms::MessageBox(errorText, QStringLiteral("ERROR"));
    StatusBar1->setSimpleText(QStringLiteral("Use Image Conversion Tool"));
  } else if (aborted) {
    StatusBar1->setSimpleText(written == 1 ? QStringLiteral("AVI stopped: 1 frame written")
                                           : QStringLiteral("AVI stopped: %1 frames written").arg(written));
  }
}
