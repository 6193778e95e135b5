#include "app/keeppreviewdialog.h"

#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "framework/dialogs.h"
#include "framework/widgets.h"

namespace app {

using framework::named;

KeepPreviewDialog::KeepPreviewDialog(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form5"));
  setWindowTitle(QStringLiteral("Keep Preview ?"));
  keep_ = named<QRadioButton>(this, "RadioButton1", QStringLiteral("Keep Preview"));
  noPreview_ = named<QRadioButton>(this, "RadioButton2", QStringLiteral("No Preview"));
  noPreview_->setChecked(true);
  okButton_ = named<QPushButton>(this, "Button2", QStringLiteral("OK"));
  cancelButton_ = named<QPushButton>(this, "Button3", QStringLiteral("Cancel"));
  helpButton_ = named<QPushButton>(this, "Button1", QStringLiteral("Help"));
  framework::addWidgets(new QVBoxLayout(this), {keep_, noPreview_, okButton_, cancelButton_, helpButton_});
  framework::onClicked({{okButton_, [this] { confirm(); }},
                        {cancelButton_, [this] { cancel(); }},
                        {helpButton_, [this] { showHelp(); }}});
}

void KeepPreviewDialog::confirm() {
  const bool keep = !noPreview_->isChecked();
  hide();
  emit chosen(keep);
}

void KeepPreviewDialog::cancel() {
  hide();
  emit cancelled();
}

void KeepPreviewDialog::showHelp() {
  framework::ShowMessage(
      QStringLiteral("If you wish to keep the image updating, while not recording then Keep Preview."));
}

}  // namespace app
