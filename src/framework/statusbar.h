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
  QString SimpleText() const { return text_; }
  // A bar out of sight (the main window hides while it records) takes its
  // text when it is shown again: setting a label's text lays the label out
  // anew, and "Writing Frame #n" changes at every frame.
  void setSimpleText(const QString& text) {
    text_ = text;
    if (isVisible()) label_->setText(text);
  }

 protected:
  void showEvent(QShowEvent* e) override {
    label_->setText(text_);
    QStatusBar::showEvent(e);
  }

 private:
  QLabel* label_;
  QString text_;
};

}  // namespace framework
