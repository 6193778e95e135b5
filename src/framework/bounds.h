#pragma once
// Left, Top, Width and Height of a top-level window as the program uses
// them: the outer bounds (window-manager frame and caption included), in
// device pixels of the screen.
class QWidget;

namespace forms {

struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

Bounds outerBounds(const QWidget* w);
void setOuterBounds(QWidget* w, const Bounds& b);
inline int Left(const QWidget* w) { return outerBounds(w).left; }
inline int Top(const QWidget* w) { return outerBounds(w).top; }
inline int Width(const QWidget* w) { return outerBounds(w).width; }
inline int Height(const QWidget* w) { return outerBounds(w).height; }
void setLeft(QWidget* w, int v);
void setTop(QWidget* w, int v);
void setWidth(QWidget* w, int v);
void setHeight(QWidget* w, int v);

}  // namespace forms
