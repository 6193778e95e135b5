#include "platform/window/screencast.h"

#include <unistd.h>
#include <xcb/randr.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QVariantMap>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/window/display.h"
#include "platform/window/pipewirestream.h"
#include "platform/window/portalrequest.h"
#include "platform/window/videobuffer.h"

namespace wnd {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");

constexpr std::uint32_t kMonitor = 1;
constexpr std::uint32_t kCursorHidden = 1;
constexpr std::uint32_t kCursorEmbedded = 2;
constexpr std::uint32_t kCursorMetadata = 4;
constexpr std::uint32_t kPersistUntilRevoked = 2;

const char* const kNoPortal =
    "Kestrel cannot see this Wayland desktop: it offers no screen-cast portal (org.freedesktop.portal.ScreenCast). "
    "Install xdg-desktop-portal with the desktop's own back end (-gnome, -kde or -wlr) and try again";

std::string text(const QString& s) { return s.toStdString(); }

// One portal request: its Response signal is awaited in a local event
// loop (the desktop may show the user a dialog meanwhile).
class Request : public QObject {
  Q_OBJECT
 public:
  Request(QDBusConnection bus, const QString& token) : bus_(bus) {
    path_ = portalRequestPath(bus, token);
    // Subscribed before the call, so that a quick answer is not missed.
    bus_.connect(kService, path_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap)));
  }
  ~Request() override {
    bus_.disconnect(kService, path_, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                    this, SLOT(onResponse(uint, QVariantMap)));
  }

  // Sends the call and waits for the answer; the results on success.
  // `what` names the step for messages.
  QVariantMap run(const QDBusMessage& call, const char* what, std::chrono::milliseconds timeout) {
    const QDBusMessage reply = bus_.call(call, QDBus::Block, 30000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
      const QString name = reply.errorName();
      if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
          name == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
          name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
        throw Error(kNoPortal);
      throw Error(std::string("The desktop's screen-cast portal refused to ") + what + " (" +
                  text(reply.errorMessage()) + ")");
    }
    if (!done_) {
      QEventLoop loop;
      QTimer timer;
      timer.setSingleShot(true);
      connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
      connect(this, &Request::answered, &loop, &QEventLoop::quit);
      timer.start(int(timeout.count()));
      loop.exec();
    }
    if (!done_)
      throw Error(std::string("The desktop's screen-cast portal did not answer in time (") + what + ")");
    if (code_ == 1)
      throw Error(
          "The desktop did not let Kestrel see the screen: the request to share it was declined. Nothing was "
          "recorded; choose the area again to be asked once more");
    if (code_ != 0) throw Error(std::string("The desktop's screen-cast portal could not ") + what);
    return results_;
  }

 signals:
  void answered();

 private slots:
  void onResponse(uint code, const QVariantMap& results) {
    code_ = code;
    results_ = results;
    done_ = true;
    emit answered();
  }

 private:
  QDBusConnection bus_;
  QString path_;
  bool done_ = false;
  uint code_ = 2;
  QVariantMap results_;
};

// Watches the session's Closed signal: the desktop ends a cast when the
// monitor goes, the screen locks, or the user stops the sharing.
class SessionWatch : public QObject {
  Q_OBJECT
 public:
  SessionWatch(QDBusConnection bus, const QString& path) : bus_(bus), path_(path) {
    bus_.connect(kService, path_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"), this,
                 SLOT(onClosed(QVariantMap)));
  }
  ~SessionWatch() override {
    bus_.disconnect(kService, path_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"), this,
                    SLOT(onClosed(QVariantMap)));
  }
  PipeWireStream* stream = nullptr;
  bool closed = false;

 private slots:
  void onClosed(const QVariantMap&) {
    closed = true;
    if (stream) stream->end("The screen cast ended: the desktop closed it (the screen was locked, a monitor was "
                            "unplugged, or the sharing was stopped)");
  }

 private:
  QDBusConnection bus_;
  QString path_;
};

QDBusMessage portalCall(const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
  m.setArguments(args);
  return m;
}

// XWayland gives each monitor a video mode whose width is rounded down to
// a multiple of 8, while windows keep their true logical places: at scale
// 1.5 a 1280-pixel monitor is 853 logical pixels wide, its mode 848. The
// true right edge is where the next monitor, or the screen, begins within
// those 8 pixels.
void widenRoundedMonitors(std::vector<RECT>& monitors, int screenWidth) {
  const std::vector<RECT> modes = monitors;
  for (RECT& m : monitors) {
    const int edge = m.right;
    auto near = [edge](int x) { return x >= edge && x < edge + 8; };
    // The nearest beginning: a monitor beside it, else the screen's end.
    int best = near(screenWidth) ? screenWidth : edge;
    for (const RECT& o : modes)
      if (near(o.left) && o.top < m.bottom && o.bottom > m.top && (best == edge || o.left < best)) best = o.left;
    m.right = best;
  }
}

// XWayland's monitors in X screen coordinates, which are the desktop's
// logical layout: where a shared monitor lies, and how large it is in the
// capture rectangle's pixels whatever its scale. (Portals differ in what
// their "size" counts: the wlroots one gives the frame's pixels.)
std::vector<RECT> xMonitors() {
  std::vector<RECT> out;
  try {
    Display& d = Display::instance();
    xcb_connection_t* c = d.conn();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (!ext || !ext->present) return out;
    xcb_generic_error_t* err = nullptr;
    XcbPtr<xcb_randr_get_monitors_reply_t> r(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, d.root(), 1), &err));
    std::free(err);
    if (!r) return out;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem; xcb_randr_monitor_info_next(&it))
      out.push_back({it.data->x, it.data->y, it.data->x + it.data->width, it.data->y + it.data->height});
    XcbPtr<xcb_get_geometry_reply_t> root(xcb_get_geometry_reply(c, xcb_get_geometry(c, d.root()), nullptr));
    if (root) widenRoundedMonitors(out, root->width);
  } catch (const Error&) {
  }
  return out;
}

std::pair<int, int> intPair(const QVariant& v) {
  int a = 0, b = 0;
  if (v.canConvert<QDBusArgument>()) {
    const QDBusArgument arg = v.value<QDBusArgument>();
    arg.beginStructure();
    arg >> a >> b;
    arg.endStructure();
  }
  return {a, b};
}

}  // namespace

struct PortalGrabber::Session {
  QDBusConnection bus = QDBusConnection::sessionBus();
  QString handle;
  std::uint32_t node = 0;
  std::uint32_t cursorMode = 0;  // asked of SelectSources
  bool pointerWanted = false;    // what the cast was started for
  bool pointerMissing = false;   // wanted, but the desktop cannot embed it
  ScreenCastArea area;
  std::unique_ptr<SessionWatch> watch;
  std::unique_ptr<PipeWireStream> stream;

  ~Session() {
    watch.reset();
    stream.reset();
    if (!handle.isEmpty() && QCoreApplication::instance())
      bus.call(QDBusMessage::createMethodCall(kService, handle, QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Close")),
               QDBus::Block, 2000);
  }

  QString token() {
    static int n = 0;
    return QStringLiteral("kestrel%1_%2").arg(getpid()).arg(++n);
  }

  // The portal's three steps: a session, one monitor for it, and the
  // start, which is where the desktop asks the user. Returns the new
  // permission token (empty when the portal gave none).
  std::string open(const std::string& restoreToken, bool pointer) {
    pointerWanted = pointer;
    if (!bus.isConnected()) throw Error("Kestrel cannot reach the desktop's session bus, so it cannot ask to see the screen");
    std::uint32_t version = 0, sources = 0, cursors = 0;
    // A portal whose back end has just (re)started reports no source types
    // for a moment: asked again for up to 3 s before it counts.
    for (int attempt = 0; attempt < 15; ++attempt) {
      if (attempt) QThread::msleep(200);
      QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                        QStringLiteral("GetAll"));
      get.setArguments({kScreenCast});
      const QDBusMessage reply = bus.call(get, QDBus::Block, 30000);
      if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) throw Error(kNoPortal);
      const QVariantMap props = qdbus_cast<QVariantMap>(reply.arguments().first());
      if (!props.contains(QStringLiteral("AvailableSourceTypes"))) throw Error(kNoPortal);
      version = props.value(QStringLiteral("version")).toUInt();
      sources = props.value(QStringLiteral("AvailableSourceTypes")).toUInt();
      cursors = props.value(QStringLiteral("AvailableCursorModes")).toUInt();
      if (sources != 0) break;
    }
    if (!(sources & kMonitor))
      throw Error("The desktop's screen-cast portal cannot share a whole monitor, which Kestrel needs to record an area");

    const auto quick = std::chrono::seconds(30);
    {
      const QString t = token();
      Request req(bus, t);
      const QVariantMap r = req.run(
          portalCall(QStringLiteral("CreateSession"),
                     {QVariantMap{{QStringLiteral("handle_token"), t}, {QStringLiteral("session_handle_token"), token()}}}),
          "start a screen cast", quick);
      handle = r.value(QStringLiteral("session_handle")).toString();
      if (handle.isEmpty()) throw Error("The desktop's screen-cast portal gave no session");
      watch = std::make_unique<SessionWatch>(bus, handle);
    }
    {
      const QString t = token();
      QVariantMap options{{QStringLiteral("handle_token"), t},
                          {QStringLiteral("types"), QVariant::fromValue<uint>(kMonitor)},
                          {QStringLiteral("multiple"), false}};
      // The pointer drawn by the desktop where it can, else its picture
      // and place beside the frames (the metadata mode), drawn here.
      if (pointer && (cursors & kCursorEmbedded))
        cursorMode = kCursorEmbedded;
      else if (pointer && (cursors & kCursorMetadata))
        cursorMode = kCursorMetadata;
      else if (cursors & kCursorHidden)
        cursorMode = kCursorHidden;
      pointerMissing = pointer && cursorMode != kCursorEmbedded && cursorMode != kCursorMetadata;
      if (cursorMode) options.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(cursorMode));
      // Version 4 of the portal keeps a permission across sessions.
      if (version >= 4) {
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue<uint>(kPersistUntilRevoked));
        if (!restoreToken.empty()) options.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken));
      }
      Request req(bus, t);
      req.run(portalCall(QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(handle)), options}),
              "choose the monitor", quick);
    }
    std::string newToken;
    {
      const QString t = token();
      Request req(bus, t);
      const QVariantMap r =
          req.run(portalCall(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(handle)), QString(),
                                                       QVariantMap{{QStringLiteral("handle_token"), t}}}),
                  "share the screen", kAnswerTimeout);
      newToken = text(r.value(QStringLiteral("restore_token")).toString());
      const QVariant streams = r.value(QStringLiteral("streams"));
      bool found = false, hasPosition = false;
      if (streams.canConvert<QDBusArgument>()) {
        const QDBusArgument arg = streams.value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
          uint id = 0;
          QVariantMap props;
          arg.beginStructure();
          arg >> id >> props;
          arg.endStructure();
          if (found) continue;
          found = true;
          node = id;
          hasPosition = props.contains(QStringLiteral("position"));
          std::tie(area.x, area.y) = intPair(props.value(QStringLiteral("position")));
          std::tie(area.width, area.height) = intPair(props.value(QStringLiteral("size")));
        }
        arg.endArray();
      }
      if (!found) throw Error("The desktop's screen-cast portal shared no monitor");
      // The only X monitor, or the one at the portal's position, gives the
      // logical area. (The wlroots portal says 0,0 for every monitor.)
      const std::vector<RECT> monitors = xMonitors();
      for (const RECT& m : monitors) {
        if (monitors.size() == 1 || (hasPosition && m.left == area.x && m.top == area.y)) {
          area = {m.left, m.top, m.width(), m.height()};
          break;
        }
      }
    }
    QDBusMessage call = portalCall(QStringLiteral("OpenPipeWireRemote"),
                                   {QVariant::fromValue(QDBusObjectPath(handle)), QVariantMap{}});
    const QDBusMessage reply = bus.call(call, QDBus::Block, 30000);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty())
      throw Error("The desktop's screen-cast portal gave no PipeWire connection (" + text(reply.errorMessage()) + ")");
    const QDBusUnixFileDescriptor fd = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    const int own = fd.isValid() ? dup(fd.fileDescriptor()) : -1;
    if (own < 0) throw Error("The desktop's screen-cast portal gave no PipeWire connection");
    stream = std::make_unique<PipeWireStream>(own, node, cursorMode == kCursorMetadata);
    watch->stream = stream.get();
    if (watch->closed) stream->end("The screen cast ended as it started: the desktop closed it");
    return newToken;
  }
};

PortalGrabber::PortalGrabber(ScreenCastPermission permission) : permission_(std::move(permission)) {}

PortalGrabber::~PortalGrabber() = default;

void PortalGrabber::prepare() {
  if (preparing_) throw Error("Kestrel is still waiting for the desktop to share the screen");
  if (session_ && session_->stream && session_->stream->ended().empty() && session_->pointerWanted == pointerShown())
    return;
  try {
    start();
    lastFailure_.clear();
  } catch (const Error& e) {
    lastFailure_ = e.what();
    throw;
  }
}

void PortalGrabber::start() {
  preparing_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{preparing_};
  session_.reset();
  auto s = std::make_unique<Session>();
  const std::string token = s->open(permission_.token, pointerShown());
  pointerProblem_ = s->pointerMissing ? "The desktop's screen cast cannot show the mouse pointer in its frames, so it is "
                                        "not recorded"
                                      : "";
  if (!token.empty() && token != permission_.token) {
    permission_.token = token;
    if (permission_.tokenChanged) permission_.tokenChanged(token);
  }
  // The first frame shows that the cast really runs; a cast that never
  // sends one would otherwise record black.
  if (!s->stream->waitFrame(std::chrono::seconds(5))) {
    const std::string why = s->stream->ended();
    throw Error(why.empty() ? "The screen cast started but sent no picture within 5 seconds" : why);
  }
  session_ = std::move(s);
}

unsigned PortalGrabber::cursorMode() const { return session_ ? session_->cursorMode : 0; }

ScreenCastArea PortalGrabber::area() const {
  ScreenCastArea a = session_ ? session_->area : ScreenCastArea{};
  if (session_ && (a.width <= 0 || a.height <= 0)) {
    const auto [w, h] = frameSize();
    a.width = w;
    a.height = h;
  }
  return a;
}

std::pair<int, int> PortalGrabber::frameSize() const {
  if (!session_ || !session_->stream) return {0, 0};
  std::pair<int, int> size{0, 0};
  session_->stream->withFrame([&](const StreamFrame& f) { size = {f.width, f.height}; });
  return size;
}

std::string PortalGrabber::bufferKind() const {
  return session_ && session_->stream ? session_->stream->bufferKind() : std::string();
}

std::uint64_t PortalGrabber::newestSequence() const {
  std::uint64_t n = 0;
  if (session_ && session_->stream) session_->stream->withFrame([&](const StreamFrame& f) { n = f.sequence; });
  return n;
}

void PortalGrabber::awaitNewPicture() {
  awaiting_ = true;
  awaitAfter_ = newestSequence();
  awaitUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kNewPictureWaitMs);
}

void PortalGrabber::startGrab(const RECT& r) {
  pending_ = false;
  if (!awaiting_) {
    GrabSource::startGrab(r);
    return;
  }
  // Copied once the frame is in; a cast that ended says so now.
  if (session_) {
    const std::string why = session_->stream->ended();
    if (!why.empty()) throw Error(why);
  }
  pendingRect_ = r;
  pending_ = true;
}

bool PortalGrabber::grabArrived() {
  if (!pending_) return GrabSource::grabArrived();
  const bool ended = session_ && !session_->stream->ended().empty();
  return ended || newestSequence() > awaitAfter_ || std::chrono::steady_clock::now() >= awaitUntil_;
}

gdi::Bitmap PortalGrabber::finishGrab() {
  if (!pending_) return GrabSource::finishGrab();
  pending_ = false;
  awaiting_ = false;
  return grab(pendingRect_);
}

gdi::Bitmap PortalGrabber::grab(const RECT& r) {
  const std::int64_t w = std::int64_t(r.right) - r.left, h = std::int64_t(r.bottom) - r.top;
  if (w < 1 || h < 1 || w > 65535 || h > 65535)
    throw Error("The capture rectangle " + std::to_string(w) + " x " + std::to_string(h) +
                " is empty or too large to copy");
  // A cast that could not start is not asked for again at every grab (the
  // desktop would ask the user each time): only prepare() tries again.
  if (!session_ && !lastFailure_.empty()) throw Error(lastFailure_);
  if (!session_) prepare();
  const std::string why = session_->stream->ended();
  if (!why.empty()) throw Error(why);

  const ScreenCastArea a = area();
  gdi::Bitmap bmp = gdi::Bitmap::device(int(w), int(h), gdi::PixelFormat::Rgb32);
  session_->stream->withFrame([&](const StreamFrame& f) {
    if (f.width <= 0 || f.height <= 0 || a.width <= 0 || a.height <= 0) return;
    // The part of r on the monitor, in screen coordinates.
    const std::int64_t x0 = std::max<std::int64_t>(r.left, a.x), y0 = std::max<std::int64_t>(r.top, a.y);
    const std::int64_t x1 = std::min<std::int64_t>(r.right, std::int64_t(a.x) + a.width);
    const std::int64_t y1 = std::min<std::int64_t>(r.bottom, std::int64_t(a.y) + a.height);
    if (x0 >= x1 || y0 >= y1) return;
    const std::size_t frameStride = std::size_t(f.width) * 4;
    if (f.width == a.width && f.height == a.height) {
      const std::size_t n = std::size_t(x1 - x0) * 4;
      for (std::int64_t y = y0; y < y1; ++y)
        std::memcpy(bmp.scanLine(int(y - r.top)) + (x0 - r.left) * 4,
                    f.pixels.data() + std::size_t(y - a.y) * frameStride + std::size_t(x0 - a.x) * 4, n);
      return;
    }
    // Another scale: the frame pixel under each bitmap pixel's centre.
    const double sx = double(f.width) / a.width, sy = double(f.height) / a.height;
    for (std::int64_t y = y0; y < y1; ++y) {
      const int fy = std::min(f.height - 1, int((double(y - a.y) + 0.5) * sy));
      std::uint8_t* dst = bmp.scanLine(int(y - r.top)) + (x0 - r.left) * 4;
      const std::uint8_t* row = f.pixels.data() + std::size_t(fy) * frameStride;
      for (std::int64_t x = x0; x < x1; ++x, dst += 4) {
        const int fx = std::min(f.width - 1, int((double(x - a.x) + 0.5) * sx));
        std::memcpy(dst, row + std::size_t(fx) * 4, 4);
      }
    }
  });
  if (pointerShown() && session_->cursorMode == kCursorMetadata)
    session_->stream->withFrame([&](const StreamFrame& f) {
      drawStreamCursor(bmp, r, RECT{a.x, a.y, a.x + a.width, a.y + a.height}, f.width, f.height, f.cursor);
    });
  return bmp;
}

}  // namespace wnd

#include "screencast.moc"
