#include "framework/bounds.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "platform/window/display.h"
#include "platform/window/sway.h"
#include "platform/window/windows.h"

namespace framework {

namespace {

const char* const kMarginsKey = "kestrelFrameMargins";

// Device pixels and the toolkit's logical ones differ by the scale factor,
// counted from the top-left corner of the window's screen (which has the
// same coordinates in both).
struct Scale {
  double ratio = 1;
  QPoint origin;
};

Scale scaleOf(const QWidget* w) {
  Scale s;
  // Straight from the native window where there is one: the widget's own
  // lookup went through its paint-device metrics and was a tenth of the
  // user-interface thread's time while recording (outer bounds are taken at
  // every grab).
  if (const QWindow* h = w->window()->windowHandle()) {
    s.ratio = h->devicePixelRatio();
    if (const QScreen* sc = h->screen()) s.origin = sc->geometry().topLeft();
    return s;
  }
  s.ratio = w->devicePixelRatioF();
  if (const QScreen* sc = w->screen()) s.origin = sc->geometry().topLeft();
  return s;
}

int toDevice(int logical, int origin, double r) { return int(std::lround((logical - origin) * r)) + origin; }
int toLogical(int device, int origin, double r) { return int(std::lround((device - origin) / r)) + origin; }

bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

void watchFrameExtents();

// What the event filter below has seen of each of our windows.
//
// `published`: the frame widths the window manager published, asked for
// once and kept until it publishes others. Asking costs a round trip, and
// the remote control is placed after every grab: at 30 frames a second
// that was a tenth of the user-interface thread's time.
//
// `unmapped`: between an unmap and the next map, what the property says is
// not this window's frame. openbox leaves zeros there when it lets go of a
// window, and a window shown again was placed by those zeros, then framed
// around that spot, a title bar's height off.
struct FrameState {
  std::optional<Margins> published;
  bool unmapped = false;
};

std::unordered_map<WId, FrameState>& frameStates() {
  static std::unordered_map<WId, FrameState> m;
  return m;
}

// The frame as the window manager reports it, in device pixels; empty when
// the window is not framed (yet).
std::optional<Margins> liveMargins(const QWidget* w) {
  // A hidden window has no frame to ask about: the window manager lets go
  // of it when it is unmapped.
  if (!w->isVisible()) return std::nullopt;
  if (onX11()) {
    const WId id = w->internalWinId();
    if (!id) return std::nullopt;
    watchFrameExtents();
    FrameState& state = frameStates()[id];
    if (state.unmapped) return std::nullopt;
    if (state.published) return state.published;
    const auto e = wnd::GetFrameExtents(static_cast<wnd::HWND>(id));
    if (!e) return std::nullopt;
    state.published = Margins{e->left, e->top, e->right, e->bottom};
    return state.published;
  }
  // Elsewhere the toolkit's own (logical) margins are the best we have.
  const QRect outer = w->frameGeometry(), inner = w->geometry();
  if (outer == inner) return std::nullopt;
  const double r = w->devicePixelRatioF();
  auto dev = [r](int v) { return int(std::lround(v * r)); };
  return Margins{dev(inner.left() - outer.left()), dev(inner.top() - outer.top()), dev(outer.right() - inner.right()),
                 dev(outer.bottom() - inner.bottom())};
}

// Remembers the margins of each framed window, so that bounds set while it
// is hidden (and, for a window shown before, unframed) still count them.
Margins knownMargins(const QWidget* w, bool* live = nullptr) {
  if (const auto m = liveMargins(w)) {
    // Set only when it changes: this runs at every grab, and each set
    // sends the widget an event.
    const QMargins q(m->left, m->top, m->right, m->bottom);
    const QVariant old = w->property(kMarginsKey);
    if (!old.isValid() || old.value<QMargins>() != q)
      const_cast<QWidget*>(w)->setProperty(kMarginsKey, QVariant::fromValue(q));
    if (live) *live = true;
    return *m;
  }
  if (live) *live = false;
  const QVariant v = w->property(kMarginsKey);
  if (!v.isValid()) return Margins{};
  const QMargins q = v.value<QMargins>();
  return Margins{q.left(), q.top(), q.right(), q.bottom()};
}

// Applies wanted bounds again once the window manager has framed the
// window: before that the frame's size is a guess.
class FrameWatcher : public QObject {
 public:
  FrameWatcher(QWidget* w, const Bounds& b) : QObject(w), wanted(b), w_(w) {
    setObjectName(QStringLiteral("kestrelFrameWatcher"));
    w->installEventFilter(this);
  }
  Bounds wanted;

  // Re-applies the bounds if the frame is known by now; the watcher is
  // gone afterwards.
  void applyIfFramed() {
    if (!w_->isVisible() || !liveMargins(w_)) return;
    const Bounds b = wanted;
    QWidget* w = w_;
    w->removeEventFilter(this);
    setParent(nullptr);
    deleteLater();
    setOuterBounds(w, b);
  }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    const auto t = e->type();
    if (t == QEvent::Move || t == QEvent::Resize || t == QEvent::Show)
      QTimer::singleShot(0, this, [this] { applyIfFramed(); });
    return false;
  }

 private:
  QWidget* w_;
};

FrameWatcher* watcherOf(QWidget* w) {
  return w->findChild<FrameWatcher*>(QStringLiteral("kestrelFrameWatcher"), Qt::FindDirectChildrenOnly);
}

// A reparenting window manager may frame a window around its client area
// without moving it, so no toolkit event says the frame is known; the frame
// widths arriving as a property does. The same events keep the widths
// known for each window true.
class FrameExtentsFilter : public QAbstractNativeEventFilter {
 public:
  explicit FrameExtentsFilter(std::uint32_t atom) : atom_(atom) {}
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* ev = static_cast<const xcb_generic_event_t*>(message);
    switch (ev->response_type & 0x7f) {
      case XCB_UNMAP_NOTIFY: {
        const xcb_window_t id = reinterpret_cast<const xcb_unmap_notify_event_t*>(ev)->window;
        if (!QWidget::find(static_cast<WId>(id))) return false;
        FrameState& state = frameStates()[id];
        state = FrameState{};
        state.unmapped = true;
        return false;
      }
      case XCB_MAP_NOTIFY: {
        const xcb_window_t id = reinterpret_cast<const xcb_map_notify_event_t*>(ev)->window;
        if (const auto it = frameStates().find(id); it != frameStates().end()) it->second = FrameState{};
        applyLater(id);
        return false;
      }
      case XCB_DESTROY_NOTIFY:
        frameStates().erase(reinterpret_cast<const xcb_destroy_notify_event_t*>(ev)->window);
        return false;
      case XCB_PROPERTY_NOTIFY: {
        const auto* pn = reinterpret_cast<const xcb_property_notify_event_t*>(ev);
        if (pn->atom != atom_) return false;
        if (const auto it = frameStates().find(pn->window); it != frameStates().end()) it->second.published.reset();
        applyLater(pn->window);
        return false;
      }
      default:
        return false;
    }
  }

 private:
  // Bounds set before the frame was known are set again once it is.
  static void applyLater(xcb_window_t id) {
    if (QWidget* w = QWidget::find(static_cast<WId>(id)))
      if (FrameWatcher* fw = watcherOf(w)) QTimer::singleShot(0, fw, [fw] { fw->applyIfFramed(); });
  }

  std::uint32_t atom_;
};

void watchFrameExtents() {
  static bool installed = false;
  if (installed || !onX11()) return;
  installed = true;
  static FrameExtentsFilter filter(wnd::Display::instance().atom("_NET_FRAME_EXTENTS"));
  QCoreApplication::instance()->installNativeEventFilter(&filter);
}

// The toolkit's geometry (at `place`, when given) and the frame's widths
// as last known.
Bounds boundsFromGeometry(const QWidget* w, std::optional<QPoint> place = std::nullopt) {
  const Margins m = knownMargins(w);
  QRect g = w->geometry();
  if (place) g.moveTopLeft(*place);
  const Scale s = scaleOf(w);
  const int left = toDevice(g.left(), s.origin.x(), s.ratio), top = toDevice(g.top(), s.origin.y(), s.ratio);
  const int width = int(std::lround(g.width() * s.ratio)), height = int(std::lround(g.height() * s.ratio));
  return {left - m.left, top - m.top, width + m.left + m.right, height + m.top + m.bottom};
}

// A hidden window lies where it was when it was hidden, or where the
// program put it since. A window manager that lets go of a window may move
// it: mutter puts the client where its frame's corner was (its gravity says
// so, and it comes back framed where it was), and the client's place minus
// the frame then lay a title bar too high. A capture rectangle read that
// way recorded 37 pixels above the frame the user had placed. Its size and
// its frame's widths are still the last ones known (a window manager may
// tell those late).
class HiddenPlace : public QObject {
 public:
  explicit HiddenPlace(QWidget* w) : QObject(w), w_(w) {
    setObjectName(QStringLiteral("kestrelHiddenPlace"));
    w->installEventFilter(this);
  }
  std::optional<QPoint> place;  // the client's, in the toolkit's coordinates

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Hide)
      place = w_->geometry().topLeft();
    else if (e->type() == QEvent::Show)
      place.reset();
    return false;
  }

 private:
  QWidget* w_;
};

HiddenPlace* hiddenPlaceOf(const QWidget* w) {
  auto* h = w->findChild<HiddenPlace*>(QStringLiteral("kestrelHiddenPlace"), Qt::FindDirectChildrenOnly);
  if (!h && onX11()) h = new HiddenPlace(const_cast<QWidget*>(w));
  return h;
}

}  // namespace

Margins frameMargins(const QWidget* w) { return knownMargins(w); }

Bounds outerBounds(const QWidget* w) {
  // Watched from the first look on, so that its hiding is seen.
  const HiddenPlace* h = hiddenPlaceOf(w);
  if (h && h->place && !w->isVisible()) return boundsFromGeometry(w, h->place);
  return boundsFromGeometry(w);
}

namespace {

// sway centres a floating X window whatever position it asks for, when it
// maps it and at every request after: it is told by command where the
// window goes, as soon as it knows the window (a mapping takes a moment).
class SwayPlacer : public QObject {
 public:
  explicit SwayPlacer(QWidget* w) : QObject(w), w_(w) {
    setObjectName(QStringLiteral("kestrelSwayPlacer"));
    w->installEventFilter(this);
    timer_.setInterval(25);
    connect(&timer_, &QTimer::timeout, this, [this] { tryMove(); });
  }
  void place(const Bounds& b) {
    wanted_ = b;
    tries_ = 0;
    if (w_->isVisible()) tryMove();
  }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) {
      tries_ = 0;
      timer_.start();
    }
    return false;
  }

 private:
  void tryMove() {
    const bool done = w_->internalWinId() &&
                      wnd::SwayMoveWindow(static_cast<wnd::HWND>(w_->internalWinId()), wanted_.left, wanted_.top);
    if (done || ++tries_ > 40)
      timer_.stop();
    else if (!timer_.isActive())
      timer_.start();
  }
  QWidget* w_;
  QTimer timer_;
  Bounds wanted_{};
  int tries_ = 0;
};

void placeOnSway(QWidget* w, const Bounds& b) {
  auto* p = w->findChild<SwayPlacer*>(QStringLiteral("kestrelSwayPlacer"), Qt::FindDirectChildrenOnly);
  if (!p) p = new SwayPlacer(w);
  p->place(b);
}

}  // namespace

void setOuterBounds(QWidget* w, const Bounds& b) {
  bool live = false;
  const Margins m = knownMargins(w, &live);
  const Scale s = scaleOf(w);
  // The client area's device rectangle, then the toolkit's logical one.
  const int cl = b.left + m.left, ct = b.top + m.top;
  const int cw = std::max(1, b.width - m.left - m.right), ch = std::max(1, b.height - m.top - m.bottom);
  const int ll = toLogical(cl, s.origin.x(), s.ratio), lt = toLogical(ct, s.origin.y(), s.ratio);
  const int lw = std::max(1, int(std::lround(cw / s.ratio))), lh = std::max(1, int(std::lround(ch / s.ratio)));
  // Before the geometry: its move and resize events tell these bounds.
  if (HiddenPlace* h = hiddenPlaceOf(w); h && !w->isVisible()) h->place = QPoint(ll, lt);
  w->setGeometry(ll, lt, lw, lh);
  if (wnd::OnSway()) placeOnSway(w, b);

  FrameWatcher* watcher = watcherOf(w);
  if (live) {
    delete watcher;
  } else if (watcher) {
    watcher->wanted = b;
  } else {
    watchFrameExtents();
    new FrameWatcher(w, b);
  }
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

}  // namespace framework
