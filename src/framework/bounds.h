#pragma once
// Left, Top, Width and Height of a top-level window as the program uses
// them: the outer bounds (window-manager frame and caption included), in
// device pixels of the screen, also when the toolkit scales the interface.
//
// Bounds set before the window manager has framed the window (a window not
// shown yet) are applied again once the frame is known, so that they hold
// for the framed window.
class QWidget;

namespace framework {

struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Bounds&) const = default;
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

// The window-manager frame around the window in device pixels (left, top,
// right, bottom), as last seen; all 0 for an unframed window.
struct Margins {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};
Margins frameMargins(const QWidget* w);

}  // namespace framework
