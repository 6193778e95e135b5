#include "app/optionsdialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/frameratedialog.h"
#include "framework/statusbar.h"
#include "framework/widgets.h"

namespace app {

using framework::named;

OptionsDialog::OptionsDialog(FrameRateDialog* frameRate, QWidget* parent)
    : QWidget(parent, Qt::Window), frameRate_(frameRate) {
  setObjectName(QStringLiteral("Form9"));
  setWindowTitle(QStringLiteral("Options"));
  auto* lay = new QVBoxLayout(this);
  GroupBox1 = named<QGroupBox>(this, "GroupBox1", QStringLiteral("Options"));
  CheckBox1 = named<QCheckBox>(GroupBox1, "CheckBox1", QStringLiteral("Stetch Image"));
  CheckBox2 = named<QCheckBox>(GroupBox1, "CheckBox2", QStringLiteral("Remote Control"));
  CheckBox3 = named<QCheckBox>(GroupBox1, "CheckBox3", QStringLiteral("Final Preview"));
  Button1 = named<QPushButton>(GroupBox1, "Button1", QStringLiteral("Frame Rate"));
  Button2 = named<QPushButton>(GroupBox1, "Button2", QStringLiteral("OK"));
  Button3 = named<QPushButton>(GroupBox1, "Button3", QStringLiteral("Help"));
  Button3->hide();
  framework::addWidgets(new QVBoxLayout(GroupBox1), {CheckBox1, CheckBox2, CheckBox3, Button1, Button2, Button3});
  lay->addWidget(GroupBox1);
  StatusBar1 = new framework::StatusBar(this, QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  lay->addWidget(StatusBar1);
  framework::onClicked({{Button1, [this] { Button1Click(); }},
                        {Button2, [this] { Button2Click(); }},
                        {Button3, [this] { Button3Click(); }}});

  // Only the dialog, the group box and "Stetch Image" react to the mouse
  // passing over them. Every other control keeps its mouse moves to itself,
  // so passing over it leaves the hint line as it was instead of letting
  // the group box or the dialog behind it clear the line.
  setMouseTracking(true);
  GroupBox1->setMouseTracking(true);
  CheckBox1->setMouseTracking(true);
  GroupBox1->installEventFilter(this);
  CheckBox1->installEventFilter(this);
  for (QWidget* w : std::initializer_list<QWidget*>{GroupBox1, CheckBox1, CheckBox2, CheckBox3, Button1, Button2,
                                                    Button3, StatusBar1})
    w->setAttribute(Qt::WA_NoMousePropagation);
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    if (watched == CheckBox1)
      CheckBox1MouseMove();
    else if (watched == GroupBox1)
      GroupBox1MouseMove();
  }
  return QWidget::eventFilter(watched, event);
}

void OptionsDialog::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove();
  QWidget::mouseMoveEvent(event);
}

void OptionsDialog::CheckBox1MouseMove() {
  StatusBar1->setSimpleText(QStringLiteral("Stretch the viewing image to fit the preview window."));
}

void OptionsDialog::GroupBox1MouseMove() { StatusBar1->setSimpleText(QString()); }

void OptionsDialog::FormMouseMove() { StatusBar1->setSimpleText(QString()); }

void OptionsDialog::Button1Click() {
  frameRate_->show();
  frameRate_->raise();
  frameRate_->activateWindow();
}

void OptionsDialog::Button2Click() {
  hide();
  emit closed();
}

// The help button is hidden and has nothing to say.
void OptionsDialog::Button3Click() {}

}  // namespace app
