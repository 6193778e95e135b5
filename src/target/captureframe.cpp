#include "target/captureframe.h"

#include <QAction>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "framework/bounds.h"
#include "framework/timer.h"
#include "framework/widgets.h"
#include "platform/window/grabsource.h"
#include "platform/window/sway.h"
#include "platform/window/windows.h"

namespace target {

namespace {

const char* const kInstructions =
    "To record an application like netmeeting, click \n"
    "on the netmeeting program. After about two \n"
    "second this window will cover the program, \n"
    "then click on the X.\n"
    "\n"
    "To record a webcam, just move this window \n"
    "over the area of the screen you want to record \n"
    "and click on the X.";

QPlainTextEdit* makeMemo(QWidget* parent, const char* name) {
  auto* m = framework::named<QPlainTextEdit>(parent, name);
  m->setPlainText(QString::fromLatin1(kInstructions));
  m->setReadOnly(true);
  m->setMinimumSize(0, 0);
  m->setFocusPolicy(Qt::NoFocus);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return m;
}

}  // namespace

CaptureFrame::CaptureFrame(QWidget* parent)
    : QWidget(parent, flagsFor(FrameStyle::Sizeable)),
      follow_(new framework::Timer(this, QStringLiteral("WindowMirror"), 3000, false)) {
  follow_->OnTimer = [this] { followForegroundWindow(); };
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("Click on X"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.png")));
  // Shown and raised over the user's window, never given the focus: the
  // following reads the foreground window right after raising the frame.
  setAttribute(Qt::WA_ShowWithoutActivating);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(2, 2, 2, 2);
  // The frame takes the size of whatever window it covers, however small:
  // its contents must not hold it larger.
  grid->setSizeConstraint(QLayout::SetNoConstraint);
  // Two copies of the instructions lie on the same spot; the borderless one
  // in the button-face colour, added last, is the one seen.
  instructions_ = makeMemo(this, "Memo1");
  instructionsFramed_ = makeMemo(this, "Memo2");
  instructionsFramed_->setFrameShape(QFrame::NoFrame);
  instructionsFramed_->setBackgroundRole(QPalette::Button);
  instructionsFramed_->viewport()->setBackgroundRole(QPalette::Button);
  instructionsFramed_->viewport()->setAutoFillBackground(true);
  QFont small = instructionsFramed_->font();
  small.setPixelSize(10);
  instructions_->setFont(small);
  instructionsFramed_->setFont(small);
  grid->addWidget(instructions_, 0, 0);
  grid->addWidget(instructionsFramed_, 0, 0);

  x_ = framework::named<QLabel>(this, "Label3", QStringLiteral("X"));
  QFont big = x_->font();
  big.setPixelSize(19);
  big.setBold(true);
  x_->setFont(big);
  x_->setAlignment(Qt::AlignCenter);
  x_->setCursor(Qt::PointingHandCursor);
  x_->setToolTip(QStringLiteral("Click on X"));
  x_->installEventFilter(this);
  grid->addWidget(x_, 1, 0, Qt::AlignHCenter | Qt::AlignBottom);
  grid->setRowStretch(0, 1);

  framework::setOuterBounds(this, {-2, 0, 255, 253});
}

Qt::WindowFlags CaptureFrame::flagsFor(FrameStyle s) {
  const Qt::WindowFlags common = Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
  if (s == FrameStyle::ToolWindow)
    return Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | common;
  return Qt::Window | common;
}

void CaptureFrame::setFrameStyle(FrameStyle s) {
  if (s == style_) return;
  // A new style changes the window-manager frame: keep the outer bounds.
  const framework::Bounds b = framework::outerBounds(this);
  const bool shown = isVisible();
  style_ = s;
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  setWindowFlags(flagsFor(s));
  setAttribute(Qt::WA_ShowWithoutActivating);
  framework::setOuterBounds(this, b);
  if (style_ == FrameStyle::ToolWindow) lockSize(b.width, b.height);
  if (shown) {
    showOnTop();
    // Look again once the window manager has had time to map it.
    QTimer::singleShot(1200, this, [this] {
      if (isVisible()) showOnTop();
    });
  }
}

// Fixes the client size that the outer size gives. Taken from the size
// asked for, not from size(): the toolkit reports a new size only once the
// window manager has carried it out, and locking the old one would undo it.
void CaptureFrame::lockSize(int outerWidth, int outerHeight) {
  if (style_ != FrameStyle::ToolWindow) return;
  const framework::Margins m = framework::frameMargins(this);
  const double r = devicePixelRatioF();
  setFixedSize(std::max(1, int(std::lround((outerWidth - m.left - m.right) / r))),
               std::max(1, int(std::lround((outerHeight - m.top - m.bottom) / r))));
}

// The fixed size moves straight to the new one, never through "sizeable":
// openbox gives a sizeable window a taller bottom border, and a frame whose
// border changes while it is being sized would be sized with the wrong one.
CaptureFrame::Resizing::Resizing(CaptureFrame* f, int outerWidth, int outerHeight) : f_(f), w_(outerWidth), h_(outerHeight) {
  if (f_->style_ == FrameStyle::ToolWindow) {
    f_->lockSize(w_, h_);
  } else {
    f_->setMinimumSize(0, 0);
    f_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
}

CaptureFrame::Resizing::~Resizing() { f_->lockSize(w_, h_); }

void CaptureFrame::hideFromScreen() {
  const bool shown = isVisible();
  hide();
  if (shown && internalWinId()) wnd::AwaitHidden(static_cast<wnd::HWND>(internalWinId()), 500);
}

void CaptureFrame::showOnTop() {
  const bool xcb = QGuiApplication::platformName() == QLatin1String("xcb");
  if (!isVisible()) {
    show();
    shown_.start();
  } else if (xcb && internalWinId() && shown_.isValid() && shown_.elapsed() > 1000 &&
             !wnd::IsViewable(static_cast<wnd::HWND>(internalWinId()))) {
    // A restyle unmaps and maps the window again; when the window manager
    // is slow to let go of the old mapping it can drop the new one, and the
    // frame stays off the screen while the toolkit counts it as shown. Show
    // it once more.
    hide();
    show();
    shown_.start();
  }
  raise();
  // The window manager decides stacking; ask it directly as well, since a
  // toolkit raise of a window that is already on top may send nothing.
  if (internalWinId() && xcb) {
    // The stay-on-top hint reaches the window manager only with the first
    // map; after a restyle it may be lost, and the window the user clicks to
    // put in front would then cover the frame until the next raise.
    wnd::KeepAbove(static_cast<wnd::HWND>(internalWinId()));
    wnd::RaiseWithoutActivating(static_cast<wnd::HWND>(internalWinId()));
  }
}

bool CaptureFrame::eventFilter(QObject* o, QEvent* e) {
  if (o == x_ && e->type() == QEvent::MouseButtonRelease) {
    auto* me = static_cast<QMouseEvent*>(e);
    if (me->button() == Qt::LeftButton && x_->rect().contains(me->position().toPoint())) {
      fixRectangle();
      return true;
    }
  }
  return QWidget::eventFilter(o, e);
}

void CaptureFrame::chooseArea() {
  // After a Window-mode use the frame has lost its sizing border; Area
  // mode is about sizing the frame by hand, so it gets the border back.
  setFrameStyle(FrameStyle::Sizeable);
  showOnTop();
  setWindowTitle(QStringLiteral("Click on the X"));
}

void CaptureFrame::chooseWindow() {
  follow_->setEnabled(true);
  showOnTop();
  setWindowTitle(QStringLiteral("Click the the application to record"));
  setFrameStyle(FrameStyle::ToolWindow);
}

// Lays the frame over the window the user works in. With no foreground
// window (the desktop has the focus) or one that vanished between the two
// questions, the frame stays where it is.
void CaptureFrame::followForegroundWindow() {
  showOnTop();
  const wnd::HWND target = wnd::GetForegroundWindow();
  auto r = wnd::GetWindowRect(target);
  // XWayland publishes no active window while a native one has the focus:
  // sway tells where that one is; elsewhere it cannot be followed.
  if (!target && wnd::InWaylandSession()) {
    r = wnd::SwayFocusedWindowRect();
    if (!r && !wnd::OnSway() && !toldCannotFollow_) {
      offerArea();
      return;
    }
  }
  if (!r) return;
  // Left, Top, Height and Width in one request: nothing runs between the
  // four, so the window manager is spared three intermediate frames (and
  // the toolkit's not-yet-confirmed geometry is never read back half-set).
  Resizing unlocked(this, r->right - r->left, r->bottom - r->top);
  framework::setOuterBounds(this, {r->left, r->top, r->right - r->left, r->bottom - r->top});
}

void CaptureFrame::offerArea() {
  toldCannotFollow_ = true;
  follow_->setEnabled(false);  // the timer ticks on inside the box
  const auto answer = QMessageBox::question(
      this, QStringLiteral("Window mode"),
      QStringLiteral("Kestrel cannot follow the window in front: in a Wayland session it can follow only the windows "
                     "of X11 programs (running through XWayland), not native Wayland windows.\n\n"
                     "Record an area instead? You then place the frame over the window yourself."),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  if (answer == QMessageBox::Yes) {
    chooseArea();
    return;
  }
  follow_->setEnabled(true);
}

framework::Bounds CaptureFrame::recordedBounds() const { return framework::outerBounds(this); }

void CaptureFrame::moveEvent(QMoveEvent* e) {
  QWidget::moveEvent(e);
  emit rectangleChanged(recordedBounds());
}

void CaptureFrame::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  emit rectangleChanged(recordedBounds());
}

void CaptureFrame::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  emit rectangleChanged(recordedBounds());
}

// Ends the choice: the frame's bounds are from now on the capture
// rectangle, read by every grab while the frame stays hidden.
void CaptureFrame::fixRectangle() { emit xClicked(); }

}  // namespace target
