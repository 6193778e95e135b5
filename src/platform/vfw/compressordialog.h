#pragma once
// The compressor-choice dialog behind ICCompressorChoose.
//
// Widgets, by objectName (for tests and screen readers):
//   "CompressorDialog"  the dialog itself, titled with the caller's title
//   "CompressorList"    a three-column list: compressor name, frames per
//                       second that recording sustains at the caller's frame
//                       size, and about how large a minute of recording comes
//                       out at that size, the caller's frame rate and the
//                       compressor's key-frame interval (estimated from the
//                       trial frames' packets; 1,000 frames when the caller
//                       gave no rate); each item carries the handler FOURCC
//                       in Qt::UserRole.
//                       Compressors that cannot take the format are listed
//                       greyed (disabled, never the choice) as "Name (reason)",
//                       the reason also in the tooltip and accessible text.
//   "QualitySlider"     0..100 shown, times 100 stored in COMPVARS::lQ
//   "KeyFrameEdit"      key frame every n frames (ICMF_CHOOSE_KEYFRAME);
//                       starts at the compressor's own default spacing, or
//                       the one chosen for it last in this run; greyed at 1
//                       for compressors without delta frames
//   "DataRateEdit"      kB/sec, 0 = no limit (ICMF_CHOOSE_DATARATE)
//   "OkButton", "CancelButton"
//
// Driving it from a test: either answer the real modal dialog with
// testsupport::ModalWatcher (find the widgets above, click "OkButton"), or
// call setCompressorChoiceForTesting(fourcc) before the code under test
// calls ICCompressorChoose: the real dialog is then built, shown, the
// compressor selected and OK pressed by the dialog's own event loop (0
// presses Cancel; a compressor that is not offered for the format also
// cancels, as a person could not pick it either).
#include <QDialog>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/vfw/codec.h"
#include "platform/vfw/vfw.h"

class QLabel;
class QSlider;
class QSpinBox;
class QTreeWidget;
class QPushButton;

namespace vfw {

// nullopt (the default): a person answers the dialog.
void setCompressorChoiceForTesting(std::optional<FOURCC> handler);
// Forgets the choice remembered from earlier dialogs of this run.
void forgetLastCompressorChoice();

class CompressorDialog : public QDialog {
  Q_OBJECT
 public:
  CompressorDialog(const QString& title, UINT flags, std::span<const std::uint8_t> inputFormat,
                   const COMPVARS& initial, QWidget* parent = nullptr, int framesPerSecond = 0);
  ~CompressorDialog() override;

  FOURCC selectedHandler() const;  // 0 if nothing is selected
  bool selectHandler(FOURCC handler);
  // Fills the fields a confirmed choice sets; leaves the others alone.
  void storeChoice(COMPVARS& pc) const;
  // Rows whose frames-per-second figure has arrived (greyed rows get none).
  int measuredRows() const { return measured_; }

 private:
  struct TrialState;
  void startTrials(std::span<const std::uint8_t> inputFormat);
  void showTrial(int row, const TrialResult& trial);
  void updateControls();
  void updateEstimates();
  // The interval a compressor's row assumes: the box's for the current row.
  LONG intervalFor(FOURCC handler) const;
  // The same without the box: typed earlier in this dialog, chosen last in
  // this run, or the compressor's default.
  LONG storedInterval(FOURCC handler) const;

  QTreeWidget* list_ = nullptr;
  QSlider* quality_ = nullptr;
  QLabel* qualityValue_ = nullptr;
  QSpinBox* keyFrames_ = nullptr;
  QSpinBox* dataRate_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool qualityTouched_ = false;
  LONG initialQuality_ = ICQUALITY_DEFAULT;
  int framesPerSecond_ = 0;
  int measured_ = 0;
  std::vector<std::optional<TrialResult>> trialsByRow_;
  FOURCC shownInterval_ = 0;  // whose interval the box holds
  std::map<FOURCC, LONG> typedKeyFrames_;  // intervals typed for other compressors of this dialog
  std::shared_ptr<TrialState> trials_;
};

}  // namespace vfw
