#pragma once
// Drives the recorder the way the windows around it do: the save dialog is
// answered, the capture frame's X is clicked, the compressor dialog gets a
// choice, and the preview can be given a known picture.
#include <QString>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "support/modal.h"
#include "support/programwindows.h"
#include "support/tempdir.h"

namespace recorder_test {

// Full frames keep every pixel, so the decoded frames can be compared.
inline const QString kUncompressed = QStringLiteral("Full Frames (Uncompressed)");

// Creates the windows (with preferences left alone) and a private folder;
// destroys them again.
class RecorderFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // "Record New File" with the save dialog answered by `name` in the folder.
  void nameFile(const QString& name);
  // The capture frame's X: the target is fixed and the grab starts.
  void fixTarget();
  // Start, with the compressor dialog answered by the named compressor, or
  // cancelled when the name is empty. The boxes seen are kept in `boxes`.
  void start(const QString& compressor = kUncompressed);
  // From now on the grabs see a picture of one colour instead of the
  // screen; returns once one has (while the preview runs).
  void feed(std::uint32_t bgra, int width = 64, int height = 48);
  // Pumps until frameIndex reaches n.
  bool waitForFrame(int n, int ms = 5000);

  void expectToolbar(bool record, bool start, bool pause, bool stop, bool cancel);

  std::string path(const QString& name) const { return dir->file(name); }

  std::unique_ptr<testsupport::TempDir> dir;
  std::unique_ptr<testsupport::ProgramWindows> program;
  QStringList boxes;  // texts of the message boxes seen by start()
  QStringList boxCaptions;
};

// Answers a compressor dialog with the named compressor.
void chooseCompressor(QWidget* w, const QString& name);

}  // namespace recorder_test
