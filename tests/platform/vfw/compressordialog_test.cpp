// The compressor-choice dialog, driven as a person would through its named
// widgets, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>

#include "platform/vfw/framegen.h"
#include "platform/vfw/codec.h"
#include "platform/vfw/compressordialog.h"
#include "support/modal.h"

using namespace vfw;
using codectest::dibHeader;

namespace {

constexpr FOURCC kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
constexpr FOURCC kH264 = mmioFOURCC('H', '2', '6', '4');

COMPVARS freshVars() {
  COMPVARS cv;
  std::memset(&cv, 0, sizeof cv);
  cv.cbSize = COMPVARS_CBSIZE;
  return cv;
}

std::vector<FOURCC> listed(QTreeWidget* list) {
  std::vector<FOURCC> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    out.push_back(list->topLevelItem(i)->data(0, Qt::UserRole).value<quint32>());
  return out;
}

void select(QTreeWidget* list, FOURCC f) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->data(0, Qt::UserRole).value<quint32>() == f) list->setCurrentItem(list->topLevelItem(i));
}

class CompressorDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetLastCompressorChoice();
    setCompressorChoiceForTesting(std::nullopt);
  }
  void TearDown() override { setCompressorChoiceForTesting(std::nullopt); }
};

}  // namespace

TEST_F(CompressorDialogTest, ListsEveryCompressorAndOffersOnlyThoseThatTakeTheFormat) {
  const COMPVARS cv = freshVars();
  const auto even = dibHeader(64, 48, 32, false);
  CompressorDialog all("t", 3, even, cv);
  EXPECT_EQ(listed(all.findChild<QTreeWidget*>("CompressorList")).size(), compressors().size());

  // H.264 needs even sides and Video 1 multiples of four: still listed, but
  // not on offer.
  const auto odd = dibHeader(101, 51, 32, false);
  CompressorDialog some("t", 3, odd, cv);
  auto* list = some.findChild<QTreeWidget*>("CompressorList");
  const auto l = listed(list);
  EXPECT_EQ(l.size(), compressors().size());
  EXPECT_EQ(l.front(), comptypeDIB);
  EXPECT_FALSE(some.selectHandler(kH264));
  EXPECT_FALSE(some.selectHandler(mmioFOURCC('M', 'S', 'V', 'C')));
  EXPECT_TRUE(some.selectHandler(kMjpg));
  EXPECT_EQ(some.selectedHandler(), kMjpg);
}

TEST_F(CompressorDialogTest, CancelAndBadSizeLeaveTheRecordUntouched) {
  const auto fmt = dibHeader(64, 48, 32, false);
  COMPVARS cv = freshVars();
  cv.lQ = 1234;
  cv.fccHandler = 0xDEADBEEF;
  const COMPVARS before = cv;
  {
    testsupport::ModalWatcher watcher([](QWidget* w) { w->findChild<QPushButton*>("CancelButton")->click(); });
    EXPECT_FALSE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &cv, "Choose"));
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].title, "Choose");
  }
  EXPECT_EQ(std::memcmp(&cv, &before, sizeof cv), 0);

  // A record of the wrong size is refused before any dialog appears.
  cv.cbSize = 96;
  testsupport::ModalWatcher watcher;
  EXPECT_FALSE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &cv, "Choose"));
  EXPECT_FALSE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, nullptr, "Choose"));
  testsupport::pumpFor(50);
  EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(CompressorDialogTest, OkFillsTheChoiceAndTheNextDialogPreselectsIt) {
  const auto fmt = dibHeader(64, 48, 32, false);
  COMPVARS cv = freshVars();
  testsupport::ModalWatcher watcher([](QWidget* w) {
    auto* list = w->findChild<QTreeWidget*>("CompressorList");
    select(list, kH264);
    w->findChild<QSlider*>("QualitySlider")->setValue(40);
    w->findChild<QSpinBox*>("KeyFrameEdit")->setValue(5);
    w->findChild<QSpinBox*>("DataRateEdit")->setValue(300);
    w->findChild<QPushButton*>("OkButton")->click();
  });
  ASSERT_TRUE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &cv, "Choose"));
  EXPECT_EQ(cv.fccType, ICTYPE_VIDEO);
  EXPECT_EQ(cv.fccHandler, kH264);
  EXPECT_EQ(cv.lQ, 4000);
  EXPECT_EQ(cv.lKey, 5);
  EXPECT_EQ(cv.lDataRate, 300);
  EXPECT_TRUE(cv.dwFlags & ICMF_COMPVARS_VALID);

  // A fresh record next time: the list starts on the last choice with its
  // interval, and an untouched slider leaves the quality to the compressor.
  FOURCC preselected = 0;
  watcher.setHandler([&](QWidget* w) {
    auto* list = w->findChild<QTreeWidget*>("CompressorList");
    preselected = list->currentItem()->data(0, Qt::UserRole).value<quint32>();
    w->findChild<QPushButton*>("OkButton")->click();
  });
  COMPVARS again = freshVars();
  ASSERT_TRUE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &again, "Choose"));
  EXPECT_EQ(preselected, kH264);
  EXPECT_EQ(again.fccHandler, kH264);
  EXPECT_EQ(again.lQ, ICQUALITY_DEFAULT);
  EXPECT_EQ(again.lKey, 5);
  EXPECT_EQ(again.lDataRate, 0);
}

TEST_F(CompressorDialogTest, FieldsFollowTheFlagsAndTheCompressor) {
  const auto fmt = dibHeader(64, 48, 32, false);
  const COMPVARS cv = freshVars();
  CompressorDialog none("t", 0, fmt, cv);
  none.show();
  EXPECT_FALSE(none.findChild<QSpinBox*>("KeyFrameEdit")->isVisible());
  EXPECT_FALSE(none.findChild<QSpinBox*>("DataRateEdit")->isVisible());
  CompressorDialog both("t", ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, fmt, cv);
  both.show();
  EXPECT_TRUE(both.findChild<QSpinBox*>("KeyFrameEdit")->isVisible());
  EXPECT_TRUE(both.findChild<QSpinBox*>("DataRateEdit")->isVisible());
  // Full frames have no quality; H.264 has quality and a data rate.
  ASSERT_TRUE(both.selectHandler(comptypeDIB));
  EXPECT_FALSE(both.findChild<QSlider*>("QualitySlider")->isEnabled());
  ASSERT_TRUE(both.selectHandler(kH264));
  EXPECT_TRUE(both.findChild<QSlider*>("QualitySlider")->isEnabled());
  EXPECT_TRUE(both.findChild<QSpinBox*>("DataRateEdit")->isEnabled());
}

TEST_F(CompressorDialogTest, SpeedColumnFillsWhileTheDialogStaysResponsive) {
  const auto fmt = dibHeader(640, 480, 32, false);
  const COMPVARS cv = freshVars();
  CompressorDialog dialog("t", 3, fmt, cv);
  dialog.show();
  auto* list = dialog.findChild<QTreeWidget*>("CompressorList");
  // Nothing was measured on the UI thread while the dialog was built ...
  EXPECT_EQ(dialog.measuredRows(), 0);
  EXPECT_EQ(list->topLevelItem(0)->text(1), "measuring...");
  // ... and while the figures arrive, the event loop keeps running.
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(10);
  ASSERT_TRUE(testsupport::pumpUntil([&] { return dialog.measuredRows() == list->topLevelItemCount(); }, 120000));
  EXPECT_GT(ticks, 5);
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    EXPECT_TRUE(list->topLevelItem(i)->text(1).endsWith("fps")) << list->topLevelItem(i)->text(0).toStdString();
}

TEST_F(CompressorDialogTest, ClosingWhileMeasuringIsSafe) {
  // 1080p keeps the worker busy well after the dialog is gone; the late
  // figures must go nowhere.
  const auto fmt = dibHeader(1920, 1080, 32, false);
  const COMPVARS cv = freshVars();
  for (int i = 0; i < 2; ++i) {
    auto dialog = std::make_unique<CompressorDialog>("t", 3, fmt, cv);
    dialog->show();
    testsupport::pumpFor(100);
    dialog.reset();
    testsupport::pumpFor(200);
  }
}

TEST_F(CompressorDialogTest, TestHookPicksThroughTheRealDialog) {
  const auto fmt = dibHeader(64, 48, 32, false);
  COMPVARS cv = freshVars();
  setCompressorChoiceForTesting(kH264);
  ASSERT_TRUE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &cv, "Choose"));
  EXPECT_EQ(cv.fccHandler, kH264);
  EXPECT_EQ(cv.fccType, ICTYPE_VIDEO);

  // Not offered for an odd size: the dialog is cancelled, the record kept.
  const auto odd = dibHeader(101, 51, 32, false);
  COMPVARS other = freshVars();
  EXPECT_FALSE(ICCompressorChoose(nullptr, 3, odd.data(), nullptr, &other, "Choose"));
  EXPECT_EQ(other.fccHandler, 0u);
  setCompressorChoiceForTesting(0);
  EXPECT_FALSE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &other, "Choose"));
}

namespace {

QTreeWidgetItem* itemFor(QTreeWidget* list, FOURCC f) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->data(0, Qt::UserRole).value<quint32>() == f) return list->topLevelItem(i);
  return nullptr;
}

void press(QWidget* w, int key) {
  QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &down);
}

const FOURCC kCinepak = mmioFOURCC('c', 'v', 'i', 'd');
const FOURCC kVideo1 = mmioFOURCC('M', 'S', 'V', 'C');

}  // namespace

TEST_F(CompressorDialogTest, CaptureFrameDefaultSizeGreysTheRefusedWithTheirReason) {
  // 255x253, the capture frame's default: odd sides rule out H.264, sides
  // that are not multiples of four Cinepak and Video 1.
  const auto fmt = dibHeader(255, 253, 32, false);
  const COMPVARS cv = freshVars();
  CompressorDialog dialog("t", 3, fmt, cv);
  auto* list = dialog.findChild<QTreeWidget*>("CompressorList");
  const std::vector<std::pair<FOURCC, QString>> refused = {
      {kH264, "needs an even width and height"},
      {kCinepak, "needs a width and height divisible by 4"},
      {kVideo1, "needs a width and height divisible by 4"}};
  for (const auto& [f, reason] : refused) {
    QTreeWidgetItem* item = itemFor(list, f);
    ASSERT_NE(item, nullptr);
    const std::string name = findCompressor(f)->name.toStdString();
    EXPECT_FALSE(item->flags() & Qt::ItemIsEnabled) << name;
    EXPECT_FALSE(item->flags() & Qt::ItemIsSelectable) << name;
    EXPECT_TRUE(item->text(0).contains(reason)) << item->text(0).toStdString();
    EXPECT_TRUE(item->toolTip(0).contains(reason)) << name;
    EXPECT_TRUE(item->toolTip(0).contains("255x253")) << item->toolTip(0).toStdString();
    // What a screen reader says for the row.
    EXPECT_TRUE(item->data(0, Qt::AccessibleTextRole).toString().contains(reason)) << name;
    EXPECT_FALSE(dialog.selectHandler(f)) << name;
  }
  // Everything else is on offer.
  for (const CompressorInfo& c : compressors()) {
    const bool isRefused = c.fccHandler == kH264 || c.fccHandler == kCinepak || c.fccHandler == kVideo1;
    EXPECT_EQ(bool(itemFor(list, c.fccHandler)->flags() & Qt::ItemIsEnabled), !isRefused) << c.name.toStdString();
  }

  // Not even a program can make a greyed row the current one.
  ASSERT_TRUE(dialog.selectHandler(kMjpg));
  list->setCurrentItem(itemFor(list, kH264));
  EXPECT_EQ(dialog.selectedHandler(), kMjpg);

  // The arrow keys step over greyed rows, whichever way they go.
  dialog.show();
  list->setFocus();
  list->setCurrentItem(list->topLevelItem(0));
  std::vector<FOURCC> visited;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    press(list, Qt::Key_Down);
    visited.push_back(dialog.selectedHandler());
  }
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    press(list, Qt::Key_Up);
    visited.push_back(dialog.selectedHandler());
  }
  for (FOURCC f : visited) EXPECT_NE(f, 0u);
  EXPECT_EQ(std::count(visited.begin(), visited.end(), kMjpg), 2);  // once each way

  // Only the usable rows are measured; the greyed ones say so instead.
  ASSERT_TRUE(testsupport::pumpUntil([&] { return dialog.measuredRows() == int(compressors().size()) - 3; }, 60000));
  EXPECT_EQ(itemFor(list, kH264)->text(1), "");
  EXPECT_TRUE(itemFor(list, comptypeDIB)->text(1).endsWith("fps"));
}

TEST_F(CompressorDialogTest, OkCannotChooseAGreyedCompressor) {
  const auto fmt = dibHeader(255, 253, 32, false);
  COMPVARS cv = freshVars();
  testsupport::ModalWatcher watcher([&](QWidget* w) {
    auto* list = w->findChild<QTreeWidget*>("CompressorList");
    select(list, kMjpg);
    // A person clicks the greyed H.264 row, double-clicks it, then presses OK.
    const QPoint at = list->visualItemRect(itemFor(list, kH264)).center();
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                           QEvent::MouseButtonRelease}) {
      QMouseEvent e(t, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                    t == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(list->viewport(), &e);
    }
    if (w->isVisible()) w->findChild<QPushButton*>("OkButton")->click();
  });
  ASSERT_TRUE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &cv, "Choose"));
  EXPECT_EQ(cv.fccHandler, kMjpg);

  // A caller's H.264 does not preselect its greyed row: the choice made last
  // does, and without one the first row on offer.
  COMPVARS h264 = freshVars();
  h264.fccHandler = kH264;
  h264.dwFlags = ICMF_COMPVARS_VALID;
  EXPECT_EQ(CompressorDialog("t", 3, fmt, h264).selectedHandler(), kMjpg);
  forgetLastCompressorChoice();
  EXPECT_EQ(CompressorDialog("t", 3, fmt, h264).selectedHandler(), comptypeDIB);
}

TEST_F(CompressorDialogTest, SizesTheyTakeMakeThemSelectable) {
  const COMPVARS cv = freshVars();
  // Even but not multiples of four: H.264 only.
  CompressorDialog even("t", 3, dibHeader(256, 254, 32, false), cv);
  EXPECT_TRUE(even.selectHandler(kH264));
  EXPECT_EQ(even.selectedHandler(), kH264);
  EXPECT_FALSE(even.selectHandler(kCinepak));
  CompressorDialog four("t", 3, dibHeader(256, 256, 32, false), cv);
  for (FOURCC f : {kH264, kCinepak, kVideo1}) EXPECT_TRUE(four.selectHandler(f));

  // A caller asking for every compressor may pick a refused one; it still
  // sees why it is a poor choice.
  CompressorDialog all("t", 3 | ICMF_CHOOSE_ALLCOMPRESSORS, dibHeader(255, 253, 32, false), cv);
  EXPECT_TRUE(all.selectHandler(kH264));
  EXPECT_TRUE(itemFor(all.findChild<QTreeWidget*>("CompressorList"), kH264)->text(0).contains("even"));
}

TEST_F(CompressorDialogTest, SpeedColumnSaysWhatItMeasures) {
  const COMPVARS cv = freshVars();
  CompressorDialog dialog("t", 3, dibHeader(64, 48, 32, false), cv);
  auto* list = dialog.findChild<QTreeWidget*>("CompressorList");
  EXPECT_EQ(list->headerItem()->text(1), "Frames/s at this size");
  const QString meaning = list->headerItem()->toolTip(1);
  for (const char* part : {"conversion", "compression", "writing"}) EXPECT_TRUE(meaning.contains(part)) << part;
  EXPECT_EQ(list->topLevelItem(0)->toolTip(1), meaning);
}

// "Key frame every" starts at each compressor's own spacing, is greyed at 1
// for compressors without delta frames (whose choice then says 1, whatever
// was typed), keeps what was typed for a compressor while another is
// looked at, and a caller's own valid interval stands for its compressor.
TEST_F(CompressorDialogTest, KeyFrameIntervalIsEachCompressorsOwn) {
  const auto fmt = dibHeader(64, 48, 32, false);
  CompressorDialog dialog("t", 3, fmt, freshVars());
  auto* box = dialog.findChild<QSpinBox*>("KeyFrameEdit");
  for (const CompressorInfo& c : compressors()) {
    ASSERT_TRUE(dialog.selectHandler(c.fccHandler)) << c.name.toStdString();
    EXPECT_EQ(box->isEnabled(), c.temporal) << c.name.toStdString();
    EXPECT_EQ(box->value(), c.temporal ? c.defaultKeyFrameEvery : 1) << c.name.toStdString();
  }
  EXPECT_EQ(findCompressor(kH264)->defaultKeyFrameEvery, 250);
  EXPECT_FALSE(findCompressor(kMjpg)->temporal);
  ASSERT_TRUE(dialog.selectHandler(kH264));
  box->setValue(30);
  ASSERT_TRUE(dialog.selectHandler(kMjpg));
  box->setValue(9);  // greyed: a program can, a person cannot
  COMPVARS mjpg = freshVars();
  dialog.storeChoice(mjpg);
  EXPECT_EQ(mjpg.lKey, 1);
  ASSERT_TRUE(dialog.selectHandler(kH264));
  EXPECT_EQ(box->value(), 30);

  COMPVARS mine = freshVars();
  mine.dwFlags = ICMF_COMPVARS_VALID;
  mine.fccHandler = mmioFOURCC('X', 'V', 'I', 'D');
  mine.lKey = 48;
  CompressorDialog caller("t", 3, fmt, mine);
  EXPECT_EQ(caller.selectedHandler(), mine.fccHandler);
  EXPECT_EQ(caller.findChild<QSpinBox*>("KeyFrameEdit")->value(), 48);
}

// Beside the speed, about how large a minute comes out at the caller's rate
// and each compressor's interval: a longer interval makes H.264's minute
// smaller, a data rate caps it, and without a rate the column counts
// 1,000 frames.
TEST_F(CompressorDialogTest, SizeColumnEstimatesAMinuteAtTheRateAndInterval) {
  const auto fmt = dibHeader(320, 240, 32, false);
  CompressorDialog dialog("t", 3, fmt, freshVars(), nullptr, 30);
  auto* list = dialog.findChild<QTreeWidget*>("CompressorList");
  EXPECT_EQ(list->headerItem()->text(2), "A minute at 30 fps");
  EXPECT_TRUE(list->headerItem()->toolTip(2).contains("estimated"));
  const int usable = int(std::count_if(compressors().begin(), compressors().end(),
                                       [&](const CompressorInfo& c) { return compressorAccepts(c, fmt); }));
  ASSERT_TRUE(testsupport::pumpUntil([&] { return dialog.measuredRows() == usable; }, 120000));
  QTreeWidgetItem* h264 = nullptr;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    EXPECT_TRUE(item->text(2).startsWith("about ")) << item->text(0).toStdString() << ": " << item->text(2).toStdString();
    if (item->data(0, Qt::UserRole).value<quint32>() == kH264) h264 = item;
  }
  ASSERT_TRUE(h264);
  // The figure in bytes, from "about 12.3 MB".
  const auto bytes = [&] {
    const QStringList parts = h264->text(2).split(' ');
    const double v = QLocale().toDouble(parts.value(1));
    const QString unit = parts.value(2);
    return v * (unit == "kB" ? 1e3 : unit == "MB" ? 1e6 : unit == "GB" ? 1e9 : 1);
  };
  ASSERT_TRUE(dialog.selectHandler(kH264));
  auto* box = dialog.findChild<QSpinBox*>("KeyFrameEdit");
  box->setValue(1);
  const double everyFrame = bytes();
  box->setValue(250);
  const double longGroups = bytes();
  EXPECT_LT(longGroups, everyFrame / 2);
  // 10 kB/s is 600 kB a minute, below what the trial frames need.
  dialog.findChild<QSpinBox*>("DataRateEdit")->setValue(10);
  EXPECT_NEAR(bytes(), 614400, 614400 * 0.1);

  CompressorDialog noRate("t", 3, fmt, freshVars());
  EXPECT_EQ(noRate.findChild<QTreeWidget*>("CompressorList")->headerItem()->text(2), "1,000 frames");
}
