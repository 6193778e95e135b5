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
  RadioButton1 = named<QRadioButton>(this, "RadioButton1", QStringLiteral("Keep Preview"));
  RadioButton2 = named<QRadioButton>(this, "RadioButton2", QStringLiteral("No Preview"));
  RadioButton2->setChecked(true);
  Button2 = named<QPushButton>(this, "Button2", QStringLiteral("OK"));
  Button3 = named<QPushButton>(this, "Button3", QStringLiteral("Cancel"));
  Button1 = named<QPushButton>(this, "Button1", QStringLiteral("Help"));
  framework::addWidgets(new QVBoxLayout(this), {RadioButton1, RadioButton2, Button2, Button3, Button1});
  framework::onClicked({{Button2, [this] { Button2Click(); }},
                        {Button3, [this] { Button3Click(); }},
                        {Button1, [this] { Button1Click(); }}});
}

void KeepPreviewDialog::Button2Click() {
  const bool keep = !RadioButton2->isChecked();
  hide();
  emit chosen(keep);
}

void KeepPreviewDialog::Button3Click() {
  hide();
  emit cancelled();
}

void KeepPreviewDialog::Button1Click() {
  framework::ShowMessage(
      QStringLiteral("If you wish to keep the image updating, while not recording then Keep Preview."));
}

}  // namespace app
