#include "framework/bounds.h"

#include <QMargins>
#include <QVariant>
#include <QWidget>
#include <QWindow>
#include <cmath>

namespace forms {

namespace {

double ratio(const QWidget* w) { return w->devicePixelRatioF(); }

// The frame the window manager puts around the window. Known once the
// window has been mapped; before that the last margins seen for any window
// of the same kind stand in, so bounds set before the first showing land
// where asked once the frame appears.
QMargins frameMargins(const QWidget* w) {
  const QRect outer = w->frameGeometry();
  const QRect inner = w->geometry();
  QMargins m(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
             outer.bottom() - inner.bottom());
  const char* key = "kestrelFrameMargins";
  if (!m.isNull()) {
    const_cast<QWidget*>(w)->setProperty(key, QVariant::fromValue(m));
    return m;
  }
  const QVariant v = w->property(key);
  return v.isValid() ? v.value<QMargins>() : m;
}

}  // namespace

Bounds outerBounds(const QWidget* w) {
  const QMargins m = frameMargins(w);
  const QRect g = w->geometry();
  const double r = ratio(w);
  const int left = g.left() - m.left(), top = g.top() - m.top();
  const int width = g.width() + m.left() + m.right(), height = g.height() + m.top() + m.bottom();
  return {int(std::lround(left * r)), int(std::lround(top * r)), int(std::lround(width * r)),
          int(std::lround(height * r))};
}

void setOuterBounds(QWidget* w, const Bounds& b) {
  const QMargins m = frameMargins(w);
  const double r = ratio(w);
  const int left = int(std::lround(b.left / r)), top = int(std::lround(b.top / r));
  const int width = int(std::lround(b.width / r)), height = int(std::lround(b.height / r));
  // move() places the frame's top-left corner; resize() sizes the client.
  w->move(left, top);
  w->resize(std::max(1, width - m.left() - m.right()), std::max(1, height - m.top() - m.bottom()));
}

void setLeft(QWidget* w, int v) {
  Bounds b = outerBounds(w);
  b.left = v;
  setOuterBounds(w, b);
}
void setTop(QWidget* w, int v) {
  Bounds b = outerBounds(w);
  b.top = v;
  setOuterBounds(w, b);
}
void setWidth(QWidget* w, int v) {
  Bounds b = outerBounds(w);
  b.width = v;
  setOuterBounds(w, b);
}
void setHeight(QWidget* w, int v) {
  Bounds b = outerBounds(w);
  b.height = v;
  setOuterBounds(w, b);
}

}  // namespace forms
