// The tray icon component against a double of the notification area that
// records every add, modify and delete.
#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "components/trayicon.h"
#include "support/modal.h"

using namespace shell;
using testsupport::pumpFor;
using testsupport::pumpUntil;

namespace {

struct Sent {
  DWORD message;
  NOTIFYICONDATA data;
  QString tip() const { return QString::fromUtf8(data.szTip); }
};

class RecordingArea : public NotifyArea {
 public:
  RecordingArea() : old_(setNotifyArea(this)) {}
  ~RecordingArea() override { setNotifyArea(old_); }
  BOOL notify(DWORD message, const NOTIFYICONDATA& d) override {
    sent.push_back({message, d});
    return answer;
  }
  std::vector<Sent> sent;
  BOOL answer = 1;
  int count(DWORD m) const {
    int n = 0;
    for (const auto& s : sent) n += s.message == m;
    return n;
  }

 private:
  NotifyArea* old_;
};

QIcon colour(Qt::GlobalColor c) {
  QPixmap px(16, 16);
  px.fill(c);
  return QIcon(px);
}

// The colour of an icon's top-left pixel tells the images apart.
QRgb pixelOf(const QIcon& icon) { return icon.pixmap(16, 16).toImage().pixel(0, 0); }

class TrayIconTest : public ::testing::Test {
 protected:
  RecordingArea area;
  components::TrayIcon tray{nullptr, QStringLiteral("TrayIcon1")};
  // Lets posted messages (the tooltip reset) arrive.
  void settle() { pumpFor(30); }
  // Sends the callback message the shell sends for a mouse action.
  void mouse(UINT m) {
    PostMessageA(tray.messageWindow(), components::TrayIcon::toolTrayIconMessage(), 0, LPARAM(m));
    settle();
  }
};

}  // namespace

TEST_F(TrayIconTest, ConstructionShowsNothingAndRegistersStableMessageNumbers) {
  EXPECT_FALSE(tray.Active());
  EXPECT_FALSE(tray.Animate());
  EXPECT_EQ(tray.AnimateInterval(), 100);
  EXPECT_TRUE(tray.ToolTip().isEmpty());
  EXPECT_TRUE(tray.Icon().isNull());
  settle();
  EXPECT_TRUE(area.sent.empty());
  const UINT a = components::TrayIcon::toolTrayIconMessage(), r = components::TrayIcon::resetToolTipMessage();
  EXPECT_GE(a, kFirstRegisteredMessage);
  EXPECT_NE(a, r);
  components::TrayIcon second(nullptr, QStringLiteral("TrayIcon2"));
  EXPECT_EQ(components::TrayIcon::toolTrayIconMessage(), a);
  EXPECT_EQ(components::TrayIcon::resetToolTipMessage(), r);
  EXPECT_NE(second.messageWindow(), tray.messageWindow());
}

TEST_F(TrayIconTest, ActivationAddsOnceWithFullRecordThenResetsEmptyTip) {
  tray.setIcon(colour(Qt::red));
  EXPECT_TRUE(area.sent.empty()) << "nothing is sent while inactive";
  tray.setActive(true);
  tray.setActive(true);
  ASSERT_EQ(area.sent.size(), 1u);
  const NOTIFYICONDATA& add = area.sent[0].data;
  EXPECT_EQ(area.sent[0].message, NIM_ADD);
  EXPECT_EQ(add.cbSize, 88u);
  EXPECT_EQ(add.hWnd, tray.messageWindow());
  EXPECT_EQ(add.uID, 0u);
  EXPECT_EQ(add.uFlags, 7u);
  EXPECT_EQ(add.uCallbackMessage, components::TrayIcon::toolTrayIconMessage());
  EXPECT_NE(add.hIcon, HICON(0));
  EXPECT_EQ(pixelOf(iconFromHandle(add.hIcon)), QColor(Qt::red).rgb()) << "the icon set while inactive";
  EXPECT_EQ(add.szTip[0], '\0');
  // The posted tooltip reset arrives later as a modify of icon and tip.
  settle();
  ASSERT_EQ(area.sent.size(), 2u);
  EXPECT_EQ(area.sent[1].message, NIM_MODIFY);
  EXPECT_EQ(area.sent[1].data.uFlags, 6u);

  tray.setActive(false);
  tray.setActive(false);
  EXPECT_EQ(area.count(NIM_DELETE), 1);
  EXPECT_EQ(area.sent.back().data.hWnd, tray.messageWindow());
  // Refused by the shell: Active still says what was assigned.
  area.answer = 0;
  tray.setActive(true);
  EXPECT_TRUE(tray.Active());
}

TEST_F(TrayIconTest, ToolTipCutTo62AndSentWithIconWhileActive) {
  const QString seventy(70, 'x');
  tray.setToolTip(seventy);
  EXPECT_EQ(tray.ToolTip(), QString(62, 'x'));
  EXPECT_TRUE(area.sent.empty());
  tray.setActive(true);
  settle();
  ASSERT_EQ(area.sent.size(), 1u) << "no reset when the tip is not empty";
  EXPECT_EQ(area.sent[0].tip(), QString(62, 'x'));

  tray.setToolTip(QStringLiteral("Kestrel"));
  ASSERT_EQ(area.sent.size(), 2u);
  EXPECT_EQ(area.sent[1].message, NIM_MODIFY);
  EXPECT_EQ(area.sent[1].data.uFlags, 6u);
  EXPECT_EQ(area.sent[1].tip(), QStringLiteral("Kestrel"));
  // Parts not sent keep the values of the previous call.
  EXPECT_EQ(area.sent[1].data.uCallbackMessage, components::TrayIcon::toolTrayIconMessage());

  tray.setIcon(colour(Qt::blue));
  ASSERT_EQ(area.sent.size(), 3u);
  EXPECT_EQ(area.sent[2].data.uFlags, 2u);
  EXPECT_EQ(area.sent[2].tip(), QStringLiteral("Kestrel"));
  tray.setIcon(tray.Icon());  // its own object
  EXPECT_EQ(area.sent.size(), 3u);

  // Non-ASCII text never ends in half a character.
  tray.setToolTip(QString(62, QChar(0x00E9)));
  const QByteArray tip(area.sent.back().data.szTip);
  EXPECT_LE(tip.size(), 63);
  EXPECT_TRUE(QString::fromUtf8(tip) == QString(tip.size() / 2, QChar(0x00E9)));
}

TEST_F(TrayIconTest, MouseMessagesBecomeEventsInOrder) {
  QStringList events;
  tray.OnClick = [&](QObject* s) { events << (s == &tray ? "click" : "click?"); };
  tray.OnDblClick = [&](QObject* s) { events << (s == &tray ? "dblclick" : "dblclick?"); };
  tray.setActive(true);
  settle();
  // A double click as the shell reports it.
  for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) mouse(m);
  EXPECT_EQ(events, (QStringList{"click", "dblclick", "click"}));
  events.clear();
  // Presses alone, right double clicks and other buttons do nothing.
  for (UINT m : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MBUTTONUP}) mouse(m);
  EXPECT_TRUE(events.isEmpty());
  // A right click with neither menu nor handler: nothing, and no crash.
  mouse(WM_RBUTTONUP);
  EXPECT_TRUE(events.isEmpty());
  // Other messages to the window go to the default procedure.
  PostMessageA(tray.messageWindow(), 0x0400, 1, 2);
  settle();
  EXPECT_TRUE(events.isEmpty());
}

TEST_F(TrayIconTest, RightClickShowsMenuAtCursorThenCallsHandler) {
  QMenu menu;
  menu.addAction(QStringLiteral("Item"));
  tray.setPopupMenu(&menu);
  QStringList events;
  bool menuWasOpen = false;
  tray.OnRightClick = [&](QObject* s, components::MouseButton b, components::ShiftState shift, int, int) {
    EXPECT_EQ(s, &tray);
    EXPECT_EQ(b, components::MouseButton::mbRight);
    EXPECT_EQ(shift, 0u);
    events << (menu.isVisible() ? "right-click-while-open" : "right-click");
  };
  // Close the menu a moment after it opens, as a person pressing Esc.
  QTimer closer;
  closer.setInterval(20);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (menu.isVisible()) {
      menuWasOpen = true;
      menu.close();
    }
  });
  closer.start();
  mouse(WM_RBUTTONUP);
  ASSERT_TRUE(pumpUntil([&] { return !events.isEmpty(); }, 3000));
  EXPECT_TRUE(menuWasOpen);
  EXPECT_EQ(events, QStringList{"right-click"});
}

TEST_F(TrayIconTest, RemovedMenuAndImageListAreForgotten) {
  auto* menu = new QMenu;
  tray.setPopupMenu(menu);
  delete menu;
  EXPECT_EQ(tray.PopupMenu(), nullptr);

  auto* images = new components::ImageList;
  images->Add(colour(Qt::green));
  images->Add(colour(Qt::yellow));
  tray.setIcon(colour(Qt::red));
  tray.setImages(images);
  tray.setActive(true);
  tray.setAnimateInterval(20);
  tray.setAnimate(true);
  ASSERT_TRUE(tray.Animate());
  ASSERT_TRUE(pumpUntil([&] { return pixelOf(tray.Icon()) != QColor(Qt::red).rgb(); }, 2000));
  delete images;
  EXPECT_EQ(tray.Images(), nullptr);
  EXPECT_FALSE(tray.Animate());
  EXPECT_EQ(pixelOf(tray.Icon()), QColor(Qt::red).rgb()) << "the icon from before the animation";
  pumpFor(80);  // the timer is off: nothing touches the icon now
  EXPECT_EQ(pixelOf(tray.Icon()), QColor(Qt::red).rgb());
}

TEST_F(TrayIconTest, AnimateNeedsImagesAndActiveAndCyclesFromImageOne) {
  components::ImageList images;
  tray.setIcon(colour(Qt::black));
  tray.setAnimate(true);
  EXPECT_FALSE(tray.Animate()) << "no image list";
  tray.setImages(&images);
  tray.setActive(true);
  tray.setAnimate(true);
  EXPECT_FALSE(tray.Animate()) << "empty image list";
  images.Add(colour(Qt::red));
  images.Add(colour(Qt::green));
  images.Add(colour(Qt::blue));
  tray.setActive(false);
  tray.setAnimate(true);
  EXPECT_FALSE(tray.Animate()) << "inactive";
  tray.setAnimate(false);  // not animating: the icon stays
  EXPECT_EQ(pixelOf(tray.Icon()), QColor(Qt::black).rgb());

  tray.setActive(true);
  tray.setAnimateInterval(0);
  tray.setAnimateInterval(-5);
  EXPECT_EQ(tray.AnimateInterval(), 100);
  tray.setAnimateInterval(40);
  EXPECT_EQ(tray.AnimateInterval(), 40);
  settle();
  area.sent.clear();
  tray.setAnimate(true);
  ASSERT_TRUE(tray.Animate());
  std::vector<QRgb> shown;
  ASSERT_TRUE(pumpUntil(
      [&] {
        while (shown.size() < area.sent.size()) shown.push_back(pixelOf(iconFromHandle(area.sent[shown.size()].data.hIcon)));
        return shown.size() >= 5;
      },
      3000));
  const std::vector<QRgb> expect{QColor(Qt::green).rgb(), QColor(Qt::blue).rgb(), QColor(Qt::red).rgb(),
                                 QColor(Qt::green).rgb(), QColor(Qt::blue).rgb()};
  EXPECT_EQ(std::vector<QRgb>(shown.begin(), shown.begin() + 5), expect);
  for (const auto& s : area.sent) EXPECT_EQ(s.data.uFlags, 2u);

  // While inactive the animation goes on without telling the shell.
  tray.setActive(false);
  const std::size_t sentBefore = area.sent.size();
  const int indexBefore = tray.imageIndex();
  ASSERT_TRUE(pumpUntil([&] { return tray.imageIndex() != indexBefore; }, 2000));
  EXPECT_EQ(area.sent.size(), sentBefore);

  // The list shrinking under the animation wraps the index.
  images.Delete(2);
  images.Delete(1);
  ASSERT_TRUE(pumpUntil([&] { return tray.imageIndex() == 0; }, 2000));
  pumpFor(100);
  EXPECT_EQ(tray.imageIndex(), 0);
  images.Clear();
  pumpFor(100);  // an emptied list: the ticks change nothing
  tray.setAnimate(false);
  EXPECT_EQ(pixelOf(tray.Icon()), QColor(Qt::black).rgb());
}

TEST(TrayIconLifetime, DestroyingAnActiveIconRemovesItAndAnInactiveOneSendsNothing) {
  RecordingArea area;
  HWND window{};
  {
    components::TrayIcon tray(nullptr, QStringLiteral("T"));
    window = tray.messageWindow();
    tray.setActive(true);
  }
  ASSERT_EQ(area.sent.size(), 2u);
  EXPECT_EQ(area.sent[1].message, NIM_DELETE);
  EXPECT_EQ(area.sent[1].data.hWnd, window);
  pumpFor(30);  // the posted tooltip reset must not reach the dead icon
  EXPECT_EQ(area.sent.size(), 2u);
  EXPECT_FALSE(IsWindow(window));
  {
    components::TrayIcon tray(nullptr, QStringLiteral("T"));
    tray.setActive(true);
    tray.setActive(false);
  }
  EXPECT_EQ(area.count(NIM_DELETE), 2);
}
