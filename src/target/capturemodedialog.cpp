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
  RadioButton1 = named<QRadioButton>(this, "RadioButton1", QStringLiteral("Window    i.e. Applicaions"));
  RadioButton2 = named<QRadioButton>(this, "RadioButton2", QStringLiteral("Area          i.e. WebCam"));
  RadioButton2->setChecked(true);
  Button1 = named<QPushButton>(this, "Button1", QStringLiteral("OK"));
  Button3 = named<QPushButton>(this, "Button3", QStringLiteral("Cancel"));
  Button2 = named<QPushButton>(this, "Button2", QStringLiteral("Help"));
  framework::addWidgets(new QVBoxLayout(this), {RadioButton1, RadioButton2, Button1, Button3, Button2});
  framework::onClicked({{Button1, [this] { Button1Click(); }},
                        {Button3, [this] { Button3Click(); }},
                        {Button2, [this] { Button2Click(); }}});
}

// Area first, then Window; the buttons exclude each other, so at most one
// path runs, and with neither checked the dialog stays open.
void CaptureModeDialog::Button1Click() {
  if (RadioButton2->isChecked()) {
    emit areaChosen();
    hide();
  }
  if (RadioButton1->isChecked()) {
    emit windowChosen();
    hide();
  }
}

void CaptureModeDialog::Button3Click() {
  emit cancelled();
  hide();
}

void CaptureModeDialog::Button2Click() {
  framework::ShowMessage(
      QStringLiteral("1. Window  If you wish to record a Video Conferencing Program Video Window then you might tru "
                     "Window.\r\n2. Area  If you wish to just record an area, example a WebCam Then click on "
                     "\"area\""));
}

}  // namespace target
