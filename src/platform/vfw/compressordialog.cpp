// The compressor-choice dialog and ICCompressorChoose.
//
// Every compressor is listed. The ones that cannot take the caller's format
// are greyed, with the reason in their entry, so a person sees why a
// compressor they know is not on offer (255x253, the capture frame's
// default size, rules out three of them).
//
// Next to each usable compressor the dialog shows how many frames per second
// recording with it sustains at the caller's frame size: conversion,
// compression and the write to a file, as runTrial times them; and about
// how large a minute of recording comes out, from the sizes of the trial's
// key and delta frames at the compressor's key-frame interval. The
// trials run on one worker thread, slowest compressors last, and post each
// figure back to the dialog's (the UI) thread. The worker never outlives its
// welcome: the dialog's destructor marks the shared state cancelled under
// its mutex, and the worker only posts while holding that mutex with the
// flag clear, so a post never targets a dead dialog (Qt drops posts to a
// deleted object). The worker itself finishes the trial it is in and is
// joined at exit.
#include "platform/vfw/compressordialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QLocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/vfw/codec.h"

namespace vfw {

namespace {

std::optional<FOURCC> g_testChoice;
// The compressor picked last in this run, preselected next time.
std::optional<FOURCC> g_lastChoice;
// The key-frame interval last chosen in this run for each compressor with
// delta frames, by its own handler code.
std::map<FOURCC, LONG> g_lastKeyFrames;

// The compressor's own handler code (aliases name the same one).
FOURCC canonical(FOURCC f) {
  const CompressorInfo* c = findCompressor(f);
  return c ? c->fccHandler : f;
}

// Worker threads of closed dialogs, joined before the process ends so no
// trial encode runs while static data is torn down.
class TrialThreads {
 public:
  void add(std::thread t, std::shared_ptr<std::atomic<bool>> done) {
    std::lock_guard lock(mutex_);
    // Reap the ones that have finished so the list stays short.
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (it->second->load()) {
        it->first.join();
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
    threads_.emplace_back(std::move(t), std::move(done));
  }
  ~TrialThreads() {
    for (auto& t : threads_) t.first.join();
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads_;
};

TrialThreads& trialThreads() {
  static TrialThreads pool;
  return pool;
}

// Video 1's and Cinepak's vector quantisers take seconds per large frame;
// measuring them last lets every other figure appear at once.
bool slowTrial(const CompressorInfo& c) {
  return std::strcmp(c.encoder, "cinepak") == 0 || std::strcmp(c.encoder, "msvideo1") == 0;
}

// Whether the compressor takes the caller's format (rows of a dialog asked
// for every compressor can be chosen without it).
constexpr int kUsableRole = Qt::UserRole + 1;

FOURCC handlerOf(const QTreeWidgetItem* item) { return item->data(0, Qt::UserRole).value<quint32>(); }

bool choosable(const QTreeWidgetItem* item) { return item && (item->flags() & Qt::ItemIsEnabled); }

}  // namespace

void setCompressorChoiceForTesting(std::optional<FOURCC> handler) { g_testChoice = handler; }
void forgetLastCompressorChoice() {
  g_lastChoice.reset();
  g_lastKeyFrames.clear();
}

struct CompressorDialog::TrialState {
  std::mutex mutex;
  bool cancelled = false;  // guarded by mutex; set when the dialog goes
  std::atomic<bool> stop{false};
  CompressorDialog* dialog = nullptr;
};

CompressorDialog::CompressorDialog(const QString& title, UINT flags, std::span<const std::uint8_t> inputFormat,
                                   const COMPVARS& initial, QWidget* parent, int framesPerSecond)
    : QDialog(parent), framesPerSecond_(std::max(0, framesPerSecond)) {
  setObjectName("CompressorDialog");
  setWindowTitle(title.isEmpty() ? tr("Video Compression") : title);
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  auto* listLabel = new QLabel(tr("&Compressor:"), this);
  list_ = new QTreeWidget(this);
  list_->setObjectName("CompressorList");
  list_->setAccessibleName(tr("Compressor"));
  list_->setColumnCount(3);
  const QString sizeHeader =
      framesPerSecond_ > 0 ? tr("A minute at %1 fps").arg(framesPerSecond_) : tr("1,000 frames");
  list_->setHeaderLabels({tr("Compressor"), tr("Frames/s at this size"), sizeHeader});
  const QString speedMeaning = tr("Frames per second that recording sustains at this frame size: conversion, "
                                  "compression and writing each frame to a file, measured on a few frames.");
  list_->headerItem()->setToolTip(1, speedMeaning);
  const QString sizeMeaning =
      tr("About how large %1 of recording comes out at this frame size and key-frame interval: estimated from "
         "the sizes of a key frame and of delta frames of the trial, whose picture changes more than most "
         "screens do, at the quality the dialog opened with.")
          .arg(framesPerSecond_ > 0 ? tr("a minute") : tr("1,000 frames"));
  list_->headerItem()->setToolTip(2, sizeMeaning);
  list_->setRootIsDecorated(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  listLabel->setBuddy(list_);
  layout->addWidget(listLabel);
  layout->addWidget(list_);

  // A caller asking for every compressor may pick one the format rules
  // out; it still sees the reason.
  const bool all = (flags & ICMF_CHOOSE_ALLCOMPRESSORS) != 0;
  QString size;
  if (inputFormat.size() >= sizeof(BITMAPINFOHEADER)) {
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, inputFormat.data(), sizeof bi);
    size = QStringLiteral("%1x%2").arg(bi.biWidth).arg(std::abs(bi.biHeight));
  }
  for (const CompressorDescription& c : describeCompressors(inputFormat, false)) {
    auto* item = new QTreeWidgetItem(list_);
    item->setData(0, Qt::UserRole, QVariant::fromValue<quint32>(c.fccHandler));
    item->setData(0, kUsableRole, c.usable);
    if (c.usable) {
      item->setText(0, c.name);
      item->setText(1, inputFormat.empty() ? QString() : tr("measuring..."));
      item->setToolTip(1, speedMeaning);
      item->setToolTip(2, sizeMeaning);
      continue;
    }
    // In the entry itself, not only its tooltip: the reason is what a person
    // (or a screen reader reading the row) needs to change the frame size.
    // The row spans both columns, as there is no speed to show and the
    // reason is longer than a name.
    item->setText(0, tr("%1 (%2)").arg(c.name, c.refusal));
    item->setFirstColumnSpanned(true);
    const QString why = tr("%1 cannot record %2 frames: it %3.").arg(c.name, size, c.refusal);
    item->setToolTip(0, why);
    item->setData(0, Qt::AccessibleTextRole, tr("%1, unavailable: %2").arg(c.name, c.refusal));
    item->setData(0, Qt::AccessibleDescriptionRole, why);
    if (!all) item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
  }

  auto* qualityRow = new QHBoxLayout;
  auto* qualityLabel = new QLabel(tr("Compression &quality:"), this);
  quality_ = new QSlider(Qt::Horizontal, this);
  quality_->setObjectName("QualitySlider");
  quality_->setAccessibleName(tr("Compression quality"));
  quality_->setRange(0, 100);
  qualityLabel->setBuddy(quality_);
  qualityValue_ = new QLabel(this);
  qualityValue_->setObjectName("QualityValue");
  qualityValue_->setMinimumWidth(qualityValue_->fontMetrics().horizontalAdvance("Default "));
  qualityRow->addWidget(qualityLabel);
  qualityRow->addWidget(quality_, 1);
  qualityRow->addWidget(qualityValue_);
  layout->addLayout(qualityRow);

  const bool valid = (initial.dwFlags & ICMF_COMPVARS_VALID) != 0;
  initialQuality_ = valid ? initial.lQ : ICQUALITY_DEFAULT;
  quality_->setValue(initialQuality_ >= 0 ? std::min<LONG>(initialQuality_, 10000) / 100 : 75);
  qualityValue_->setText(initialQuality_ >= 0 ? QString::number(quality_->value()) : tr("Default"));
  connect(quality_, &QSlider::valueChanged, this, [this](int v) {
    qualityTouched_ = true;
    qualityValue_->setText(QString::number(v));
  });

  keyFrames_ = new QSpinBox(this);
  keyFrames_->setObjectName("KeyFrameEdit");
  keyFrames_->setAccessibleName(tr("Key frame every"));
  keyFrames_->setRange(1, 100000);
  keyFrames_->setValue(1);
  // The caller's own interval stands for its own compressor.
  if (valid && initial.lKey > 0) typedKeyFrames_[canonical(initial.fccHandler)] = initial.lKey;
  connect(keyFrames_, &QSpinBox::valueChanged, this, [this] { updateEstimates(); });
  dataRate_ = new QSpinBox(this);
  dataRate_->setObjectName("DataRateEdit");
  dataRate_->setAccessibleName(tr("Data rate in kilobytes per second"));
  dataRate_->setRange(0, 10000000);
  dataRate_->setSpecialValueText(tr("no limit"));
  dataRate_->setValue(valid && initial.lDataRate > 0 ? initial.lDataRate : 0);
  connect(dataRate_, &QSpinBox::valueChanged, this, [this] { updateEstimates(); });
  auto addRow = [&](const QString& label, QSpinBox* box, const QString& unit, bool shown) {
    auto* row = new QHBoxLayout;
    auto* l = new QLabel(label, this);
    l->setBuddy(box);
    row->addWidget(l);
    row->addWidget(box, 1);
    row->addWidget(new QLabel(unit, this));
    layout->addLayout(row);
    for (int i = 0; i < row->count(); ++i) row->itemAt(i)->widget()->setVisible(shown);
  };
  addRow(tr("&Key frame every"), keyFrames_, tr("frames"), (flags & ICMF_CHOOSE_KEYFRAME) != 0);
  addRow(tr("&Data rate"), dataRate_, tr("kB/sec"), (flags & ICMF_CHOOSE_DATARATE) != 0);

  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QDialogButtonBox::Ok);
  ok_->setObjectName("OkButton");
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName("CancelButton");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  connect(list_, &QTreeWidget::currentItemChanged, this, [this] { updateControls(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
  // The caller's own valid choice first, then the one made last in this run.
  if (!(valid && selectHandler(initial.fccHandler)) && !(g_lastChoice && selectHandler(*g_lastChoice))) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      if (choosable(list_->topLevelItem(i))) {
        list_->setCurrentItem(list_->topLevelItem(i));
        break;
      }
    }
  }
  trialsByRow_.resize(std::size_t(list_->topLevelItemCount()));
  updateControls();
  resize(560, 400);

  if (!inputFormat.empty() && list_->topLevelItemCount() > 0) startTrials(inputFormat);
}

CompressorDialog::~CompressorDialog() {
  if (trials_) {
    std::lock_guard lock(trials_->mutex);
    trials_->cancelled = true;
    trials_->stop = true;
  }
}

FOURCC CompressorDialog::selectedHandler() const {
  // A greyed row is never the choice, however it became current.
  const QTreeWidgetItem* item = list_->currentItem();
  return choosable(item) ? handlerOf(item) : 0;
}

bool CompressorDialog::selectHandler(FOURCC handler) {
  const CompressorInfo* wanted = findCompressor(handler);
  if (!wanted) return false;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    if (handlerOf(item) == wanted->fccHandler) {
      if (!choosable(item)) return false;
      list_->setCurrentItem(item);
      return true;
    }
  }
  return false;
}

void CompressorDialog::storeChoice(COMPVARS& pc) const {
  pc.fccType = ICTYPE_VIDEO;
  pc.fccHandler = selectedHandler();
  // An untouched slider keeps the caller's value, so ICQUALITY_DEFAULT
  // still means "the compressor's own default".
  pc.lQ = qualityTouched_ ? LONG(quality_->value()) * 100 : initialQuality_;
  // Without delta frames every frame is a key frame, whatever the box said.
  const CompressorInfo* c = findCompressor(pc.fccHandler);
  pc.lKey = c && c->temporal ? keyFrames_->value() : 1;
  pc.lDataRate = dataRate_->value();
  pc.dwFlags |= ICMF_COMPVARS_VALID;
}

void CompressorDialog::updateControls() {
  const CompressorInfo* c = findCompressor(selectedHandler());
  ok_->setEnabled(c != nullptr);
  quality_->setEnabled(c && c->usesQuality);
  dataRate_->setEnabled(c && c->usesDataRate);
  // The interval typed for the compressor left stays with it for this
  // dialog; the one chosen shows its own.
  const FOURCC now = c ? c->fccHandler : 0;
  if (now != shownInterval_) {
    if (const CompressorInfo* before = findCompressor(shownInterval_); before && before->temporal)
      typedKeyFrames_[before->fccHandler] = keyFrames_->value();
    const LONG interval = storedInterval(now);
    shownInterval_ = now;
    const QSignalBlocker quiet(keyFrames_);
    keyFrames_->setValue(int(interval));
  }
  // Intra-only and pass-through compressors make every frame a key frame.
  keyFrames_->setEnabled(c && c->temporal);
  updateEstimates();
}

LONG CompressorDialog::intervalFor(FOURCC handler) const {
  const CompressorInfo* c = findCompressor(handler);
  if (!c || !c->temporal) return 1;
  if (c->fccHandler == shownInterval_) return keyFrames_->value();
  return storedInterval(handler);
}

LONG CompressorDialog::storedInterval(FOURCC handler) const {
  const CompressorInfo* c = findCompressor(handler);
  if (!c || !c->temporal) return 1;
  if (auto it = typedKeyFrames_.find(c->fccHandler); it != typedKeyFrames_.end()) return it->second;
  if (auto it = g_lastKeyFrames.find(c->fccHandler); it != g_lastKeyFrames.end()) return it->second;
  return c->defaultKeyFrameEvery;
}

void CompressorDialog::showTrial(int row, const TrialResult& trial) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(1, frameRateText(trial.framesPerSecond));
  if (row >= 0 && std::size_t(row) < trialsByRow_.size()) trialsByRow_[std::size_t(row)] = trial;
  ++measured_;
  updateEstimates();
}

void CompressorDialog::updateEstimates() {
  const double frames = framesPerSecond_ > 0 ? 60.0 * framesPerSecond_ : 1000.0;
  QLocale locale;
  for (int row = 0; row < list_->topLevelItemCount() && std::size_t(row) < trialsByRow_.size(); ++row) {
    const auto& trial = trialsByRow_[std::size_t(row)];
    if (!trial) continue;
    QTreeWidgetItem* item = list_->topLevelItem(row);
    const FOURCC handler = handlerOf(item);
    double bytes = estimatedBytes(*trial, intervalFor(handler), frames);
    // A data rate caps what the chosen compressor writes.
    const CompressorInfo* c = findCompressor(handler);
    if (bytes >= 0 && framesPerSecond_ > 0 && c && c->usesDataRate && handler == selectedHandler() &&
        dataRate_->isEnabled() && dataRate_->value() > 0)
      bytes = std::min(bytes, 60.0 * 1024.0 * dataRate_->value());
    item->setText(2, bytes < 0 ? tr("n/a")
                               : tr("about %1").arg(locale.formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat)));
  }
}

void CompressorDialog::startTrials(std::span<const std::uint8_t> inputFormat) {
  trials_ = std::make_shared<TrialState>();
  trials_->dialog = this;
  std::vector<std::pair<int, FOURCC>> order;
  std::vector<std::pair<int, FOURCC>> slow;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = list_->topLevelItem(i);
    if (!item->data(0, kUsableRole).toBool()) continue;  // refused: nothing to measure
    const FOURCC f = handlerOf(item);
    const CompressorInfo* c = findCompressor(f);
    (c && slowTrial(*c) ? slow : order).emplace_back(i, f);
  }
  order.insert(order.end(), slow.begin(), slow.end());
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread worker([state = trials_, done, order, quality = initialQuality_,
                      format = std::vector<std::uint8_t>(inputFormat.begin(), inputFormat.end())] {
    for (const auto& [row, handler] : order) {
      if (state->stop) break;
      const TrialResult trial = runTrial(handler, format, 0.25, 8, &state->stop, quality);
      std::lock_guard lock(state->mutex);
      if (state->cancelled) break;
      CompressorDialog* d = state->dialog;
      QMetaObject::invokeMethod(d, [d, row = row, trial] { d->showTrial(row, trial); }, Qt::QueuedConnection);
    }
    *done = true;
  });
  trialThreads().add(std::move(worker), std::move(done));
}

BOOL ICCompressorChoose(void* hwnd, UINT uiFlags, const void* pvIn, const void* lpData, COMPVARS* pc,
                        const char* lpszTitle) {
  return ICCompressorChooseAtRate(hwnd, uiFlags, pvIn, lpData, pc, lpszTitle, 0);
}

BOOL ICCompressorChooseAtRate(void* hwnd, UINT uiFlags, const void* pvIn, const void* lpData, COMPVARS* pc,
                              const char* lpszTitle, int framesPerSecond) {
  (void)hwnd;
  (void)lpData;
  if (!pc || pc->cbSize != COMPVARS_CBSIZE) return false;
  std::span<const std::uint8_t> format;
  if (pvIn) {
    // The header says how long it is; a colour table follows at 8 bits.
    const auto* bytes = static_cast<const std::uint8_t*>(pvIn);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, bytes, sizeof bi);
    if (bi.biSize < sizeof bi || bi.biSize > 4096) return false;
    std::size_t size = bi.biSize;
    if (bi.biBitCount <= 8) size += 4 * std::size_t(bi.biClrUsed ? std::min<DWORD>(bi.biClrUsed, 256) : 1u << bi.biBitCount);
    else if (bi.biCompression == gdi::BI_BITFIELDS && bi.biSize == 40) size += 12;
    format = {bytes, size};
  }
  CompressorDialog dialog(QString::fromLocal8Bit(lpszTitle ? lpszTitle : ""), uiFlags, format, *pc, nullptr,
                          framesPerSecond);
  if (g_testChoice) {
    const FOURCC wanted = *g_testChoice;
    QTimer::singleShot(0, &dialog, [&dialog, wanted] {
      if (wanted != 0 && dialog.selectHandler(wanted)) dialog.accept();
      else dialog.reject();
    });
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedHandler() == 0) return false;
  dialog.storeChoice(*pc);
  g_lastChoice = pc->fccHandler;
  if (const CompressorInfo* c = findCompressor(pc->fccHandler); c && c->temporal) g_lastKeyFrames[c->fccHandler] = pc->lKey;
  return true;
}

}  // namespace vfw
