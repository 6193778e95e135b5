#pragma once
#include <QLabel>
#include <QStatusBar>

namespace framework {

// A status bar used as one single text that every report replaces whole.
class StatusBar : public QStatusBar {
  Q_OBJECT
 public:
  StatusBar(QWidget* parent, const QString& name) : QStatusBar(parent), label_(new QLabel(this)) {
    setObjectName(name);
    label_->setObjectName(name + QStringLiteral("Text"));
    // An empty line keeps its height, so the window does not jump when
    // the first text arrives.
    label_->setMinimumHeight(label_->fontMetrics().height() + 4);
    addWidget(label_, 1);
  }
  QString SimpleText() const { return label_->text(); }
  void setSimpleText(const QString& text) { label_->setText(text); }

 private:
  QLabel* label_;
};

}  // namespace framework
