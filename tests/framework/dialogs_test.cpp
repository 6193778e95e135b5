// The plain notice box and the file dialogs, driven through Qt's own
// widgets as a person would: type a name, press the accept button.
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "support/modal.h"
#include "support/tempdir.h"

using testsupport::ModalWatcher;

namespace {

// Types name into the file dialog's name field and accepts; records what
// the field held when the dialog opened.
struct TypeName {
  QString name;
  QString preset;
  QString dialogName;
  void operator()(QWidget* w) {
    auto* dlg = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dlg, nullptr);
    dialogName = dlg->objectName();
    auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    preset = edit->text();
    edit->setText(name);
    auto* buttons = dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(buttons, nullptr);
    QPushButton* accept = buttons->button(dlg->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                                        : QDialogButtonBox::Open);
    ASSERT_NE(accept, nullptr);
    accept->click();
  }
};

void touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

}  // namespace

TEST(NoticeBox, PlainModalOkOnlyNoIconWithAppTitle) {
  QMessageBox::Icon icon = QMessageBox::Critical;
  QList<QAbstractButton*> buttons;
  QMessageBox::StandardButton okButton = QMessageBox::NoButton;
  bool modal = false;
  ModalWatcher watcher([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    buttons = box->buttons();
    modal = box->isModal();
    if (!buttons.isEmpty()) okButton = box->standardButton(buttons.first());
    ModalWatcher::acceptDefault(w);
  });
  framework::ShowMessage(QStringLiteral("line one\r\nline  two,"));
  ASSERT_EQ(watcher.seen().size(), 1u);
  EXPECT_EQ(watcher.seen()[0].title, framework::Application::title());
  EXPECT_EQ(watcher.seen()[0].text, QStringLiteral("line one\r\nline  two,"));
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(buttons.size(), 1);
  EXPECT_EQ(okButton, QMessageBox::Ok);
  EXPECT_TRUE(modal);

  framework::MessageBox(QStringLiteral("failed"), QStringLiteral("ERROR"));
  ASSERT_EQ(watcher.seen().size(), 2u);
  EXPECT_EQ(watcher.seen()[1].title, QStringLiteral("ERROR"));
  EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST(FileDialog, SaveAppendsDefaultExtensionAndKeepsLastName) {
  testsupport::TempDir dir;
  framework::FileDialog save(framework::FileDialog::Kind::Save, QStringLiteral("SaveDialog1"));
  save.DefaultExt = QStringLiteral(".avi");
  save.Filter = QStringLiteral("Video For Windows|*.avi");
  save.FileName = dir.path() + QStringLiteral("/make.avi");

  TypeName typer{QStringLiteral("clip"), {}, {}};
  {
    ModalWatcher watcher([&](QWidget* w) { typer(w); });
    ASSERT_TRUE(save.Execute());
  }
  EXPECT_EQ(typer.dialogName, QStringLiteral("SaveDialog1"));
  EXPECT_EQ(typer.preset, QStringLiteral("make.avi"));
  EXPECT_EQ(save.FileName, dir.path() + QStringLiteral("/clip.avi"));

  // The next use opens on the name chosen last; a name with its own
  // extension keeps it.
  typer.name = QStringLiteral("movie.mkv");
  {
    ModalWatcher watcher([&](QWidget* w) { typer(w); });
    ASSERT_TRUE(save.Execute());
  }
  EXPECT_EQ(typer.preset, QStringLiteral("clip.avi"));
  EXPECT_EQ(save.FileName, dir.path() + QStringLiteral("/movie.mkv"));

  // Cancel: false, and the name stays as it was.
  {
    ModalWatcher watcher;  // rejects dialogs
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(watcher.seen().size(), 1u);
  }
  EXPECT_EQ(save.FileName, dir.path() + QStringLiteral("/movie.mkv"));
}

TEST(FileDialog, OpenFindsTheFileNamedWithoutItsExtension) {
  testsupport::TempDir dir;
  touch(dir.path() + QStringLiteral("/frame.bmp"));
  framework::FileDialog open(framework::FileDialog::Kind::Open, QStringLiteral("OpenDialog1"));
  open.DefaultExt = QStringLiteral(".bmp");
  open.Filter = QStringLiteral("Bitmap|*.bmp");
  open.FileName = dir.path() + QStringLiteral("/");
  TypeName typer{QStringLiteral("frame"), {}, {}};
  {
    ModalWatcher watcher([&](QWidget* w) { typer(w); });
    ASSERT_TRUE(open.Execute());
  }
  EXPECT_EQ(open.FileName, dir.path() + QStringLiteral("/frame.bmp"));
}
