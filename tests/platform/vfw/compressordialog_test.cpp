// The compressor-choice dialog, driven as a person would through its named
// widgets, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
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

TEST_F(CompressorDialogTest, ListsOnlyCompressorsThatTakeTheFormat) {
  const COMPVARS cv = freshVars();
  const auto even = dibHeader(64, 48, 32, false);
  CompressorDialog all("t", 3, even, cv);
  EXPECT_EQ(listed(all.findChild<QTreeWidget*>("CompressorList")).size(), compressors().size());

  // H.264 needs even sides and Video 1 multiples of four.
  const auto odd = dibHeader(101, 51, 32, false);
  CompressorDialog some("t", 3, odd, cv);
  const auto l = listed(some.findChild<QTreeWidget*>("CompressorList"));
  EXPECT_EQ(std::count(l.begin(), l.end(), kH264), 0);
  EXPECT_EQ(std::count(l.begin(), l.end(), mmioFOURCC('M', 'S', 'V', 'C')), 0);
  EXPECT_EQ(l.front(), comptypeDIB);
  EXPECT_EQ(std::count(l.begin(), l.end(), kMjpg), 1);
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
    select(list, kMjpg);
    w->findChild<QSlider*>("QualitySlider")->setValue(40);
    w->findChild<QSpinBox*>("KeyFrameEdit")->setValue(5);
    w->findChild<QSpinBox*>("DataRateEdit")->setValue(300);
    w->findChild<QPushButton*>("OkButton")->click();
  });
  ASSERT_TRUE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &cv, "Choose"));
  EXPECT_EQ(cv.fccType, ICTYPE_VIDEO);
  EXPECT_EQ(cv.fccHandler, kMjpg);
  EXPECT_EQ(cv.lQ, 4000);
  EXPECT_EQ(cv.lKey, 5);
  EXPECT_EQ(cv.lDataRate, 300);
  EXPECT_TRUE(cv.dwFlags & ICMF_COMPVARS_VALID);

  // A fresh record next time: the list starts on the last choice, and an
  // untouched slider leaves the quality to the compressor.
  FOURCC preselected = 0;
  watcher.setHandler([&](QWidget* w) {
    auto* list = w->findChild<QTreeWidget*>("CompressorList");
    preselected = list->currentItem()->data(0, Qt::UserRole).value<quint32>();
    w->findChild<QPushButton*>("OkButton")->click();
  });
  COMPVARS again = freshVars();
  ASSERT_TRUE(ICCompressorChoose(nullptr, 3, fmt.data(), nullptr, &again, "Choose"));
  EXPECT_EQ(preselected, kMjpg);
  EXPECT_EQ(again.fccHandler, kMjpg);
  EXPECT_EQ(again.lQ, ICQUALITY_DEFAULT);
  EXPECT_EQ(again.lKey, 1);
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
