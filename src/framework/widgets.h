#pragma once
// Small helpers every window uses to build its controls: a control is made
// with its designer name as objectName (tests and screen readers find it by
// that name), toolbar buttons are made one way, and a pair of menu items
// that exclude each other is ticked in one call.
#include <QAction>
#include <QLayout>
#include <QPushButton>
#include <QString>
#include <QToolBar>
#include <QWidget>
#include <functional>
#include <initializer_list>

namespace framework {

// A control of type T with objectName `name`, owned by `parent`.
template <class T>
T* named(QWidget* parent, const char* name) {
  auto* w = new T(parent);
  w->setObjectName(QLatin1String(name));
  return w;
}

// The same for controls that show a text (buttons, labels, boxes).
template <class T>
T* named(QWidget* parent, const char* name, const QString& text) {
  auto* w = new T(text, parent);
  w->setObjectName(QLatin1String(name));
  return w;
}

// A toolbar push button that never takes the keyboard focus (the focus
// stays in the window the user records) and runs `clicked`.
inline QPushButton* addToolButton(QToolBar* bar, const char* name, const char* caption, bool enabled,
                                  std::function<void()> clicked) {
  auto* b = named<QPushButton>(bar, name, QString::fromLatin1(caption));
  b->setEnabled(enabled);
  b->setFocusPolicy(Qt::NoFocus);
  bar->addWidget(b);
  QObject::connect(b, &QPushButton::clicked, bar, std::move(clicked));
  return b;
}

// Connects each button's click to its handler.
inline void onClicked(std::initializer_list<std::pair<QPushButton*, std::function<void()>>> handlers) {
  for (const auto& [button, handler] : handlers) QObject::connect(button, &QPushButton::clicked, button, handler);
}

// Adds the widgets to the layout in order.
inline void addWidgets(QLayout* layout, std::initializer_list<QWidget*> widgets) {
  for (QWidget* w : widgets) layout->addWidget(w);
}

// Ticks `on` and clears `off`: the two items of a choice.
inline void checkOneOf(QAction* on, QAction* off) {
  on->setChecked(true);
  off->setChecked(false);
}

}  // namespace framework
