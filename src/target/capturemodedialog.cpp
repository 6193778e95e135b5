#include "target/capturemodedialog.h"

#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "framework/dialogs.h"
#include "framework/widgets.h"

namespace target {

using framework::named;

CaptureModeDialog::CaptureModeDialog(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Type recording ?"));
  windowMode_ = named<QRadioButton>(this, "RadioButton1", QStringLiteral("Window    i.e. Applicaions"));
  areaMode_ = named<QRadioButton>(this, "RadioButton2", QStringLiteral("Area          i.e. WebCam"));
  areaMode_->setChecked(true);
  okButton_ = named<QPushButton>(this, "Button1", QStringLiteral("OK"));
  cancelButton_ = named<QPushButton>(this, "Button3", QStringLiteral("Cancel"));
  helpButton_ = named<QPushButton>(this, "Button2", QStringLiteral("Help"));
  framework::addWidgets(new QVBoxLayout(this), {windowMode_, areaMode_, okButton_, cancelButton_, helpButton_});
  framework::onClicked({{okButton_, [this] { confirm(); }},
                        {cancelButton_, [this] { cancel(); }},
                        {helpButton_, [this] { showHelp(); }}});
}

// Area first, then Window; the buttons exclude each other, so at most one
// path runs, and with neither checked the dialog stays open.
void CaptureModeDialog::confirm() {
  if (areaMode_->isChecked()) {
    emit areaChosen();
    hide();
  }
  if (windowMode_->isChecked()) {
    emit windowChosen();
    hide();
  }
}

void CaptureModeDialog::cancel() {
  emit cancelled();
  hide();
}

void CaptureModeDialog::showHelp() {
  framework::ShowMessage(
      QStringLiteral("1. Window  If you wish to record a Video Conferencing Program Video Window then you might tru "
                     "Window.\r\n2. Area  If you wish to just record an area, example a WebCam Then click on "
                     "\"area\""));
}

}  // namespace target
