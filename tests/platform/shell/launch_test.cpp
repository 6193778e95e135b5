// ShellExecuteA through a recording xdg-open: what is launched, with which
// arguments, and that no shell ever reads a name.
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "platform/shell/shell.h"
#include "support/recording_opener.h"

using namespace shell;
using testsupport::RecordingOpener;

namespace {

std::intptr_t open(const QString& file, const QString& params = {}, const QString& dir = {}) {
  const QByteArray f = QFile::encodeName(file), p = params.toUtf8(), d = QFile::encodeName(dir);
  return ShellExecuteA(HWND(0), nullptr, f.constData(), p.constData(), d.constData(), SW_SHOWNORMAL);
}

QString makeFile(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  return path;
}

// Children of this process not yet reaped, from every thread's list.
int unreapedChildren() {
  int n = 0;
  for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile f(QStringLiteral("/proc/self/task/%1/children").arg(task));
    if (!f.open(QIODevice::ReadOnly)) return -1;  // kernel without the list
    n += int(f.readAll().split(' ').count() - 1);
  }
  return n;
}

}  // namespace

TEST(ShellExecute, BrowserNameOpensTheAddressWithTheDefaultHandler) {
  RecordingOpener opener;
  EXPECT_GT(open(QStringLiteral("iexplore"), QStringLiteral("file:///usr/share/kestrel/help/index.html")), 32);
  EXPECT_GT(open(QStringLiteral("IEXPLORE.EXE"), QStringLiteral("https://example.org/a?b=1&c=$(id)")), 32);
  ASSERT_TRUE(opener.waitFor(2));
  QStringList seen;
  for (const auto& c : opener.calls()) {
    ASSERT_EQ(c.args.size(), 1);
    seen << c.args[0];
  }
  seen.sort();
  EXPECT_EQ(seen, (QStringList{QStringLiteral("file:///usr/share/kestrel/help/index.html"),
                               QStringLiteral("https://example.org/a?b=1&c=$(id)")}));
}

TEST(ShellExecute, HostileAndLongNamesArriveAsOneArgumentAndNothingElseRuns) {
  RecordingOpener opener;
  const QString base = opener.folder();
  const QString canary = base + QStringLiteral("/ran");
  const QString hostile = makeFile(base + QStringLiteral("/it's \"my\" clip; $(touch ") + canary +
                                   QStringLiteral(") `touch ") + canary + QStringLiteral("` & x.avi"));
  QString longDir = base;
  while (longDir.size() < 180) longDir += QStringLiteral("/a long folder");
  const QString longPath = makeFile(longDir + QStringLiteral("/") + QString(200 - longDir.size() - 5, 'v') +
                                    QStringLiteral(".avi"));
  ASSERT_EQ(longPath.size(), 200);
  const QString dashed = makeFile(base + QStringLiteral("/-h.avi"));

  EXPECT_EQ(open(hostile), kLaunched);
  ASSERT_TRUE(opener.waitFor(1));
  EXPECT_EQ(opener.calls().back().args, QStringList{hostile});
  EXPECT_EQ(open(longPath), kLaunched);
  ASSERT_TRUE(opener.waitFor(2));
  // A name that looks like an option reaches xdg-open as a path.
  EXPECT_EQ(open(QStringLiteral("-h.avi"), {}, base), kLaunched);
  ASSERT_TRUE(opener.waitFor(3));
  QStringList args;
  QStringList cwds;
  for (const auto& c : opener.calls()) {
    ASSERT_EQ(c.args.size(), 1);
    args << c.args[0];
    cwds << c.cwd;
  }
  EXPECT_TRUE(args.contains(longPath)) << "a long path is passed whole";
  EXPECT_TRUE(args.contains(QStringLiteral("./-h.avi")));
  EXPECT_TRUE(cwds.contains(base)) << "the default directory is the child's working folder";
  EXPECT_FALSE(QFile::exists(canary)) << "a shell read the name";
}

TEST(ShellExecute, FailuresReturnTheShellsCodesAndLaunchNothing) {
  RecordingOpener opener;
  EXPECT_EQ(open(opener.folder() + QStringLiteral("/gone.avi")), SE_ERR_FNF);
  EXPECT_EQ(open(QString()), SE_ERR_FNF);
  EXPECT_EQ(open(QStringLiteral("iexplore")), SE_ERR_FNF) << "no address";
  EXPECT_EQ(open(opener.folder(), {}, opener.folder() + QStringLiteral("/nowhere")), SE_ERR_PNF);
  EXPECT_EQ(open(QStringLiteral("/bin/true"), QStringLiteral("--flag")), SE_ERR_NOASSOC);
  testsupport::pumpFor(200);
  EXPECT_TRUE(opener.calls().empty());
}

TEST(ShellExecute, MissingOpenerIsFileNotFound) {
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  testsupport::TempDir empty;
  setenv("PATH", empty.path().toStdString().c_str(), 1);
  const std::intptr_t rc = open(QStringLiteral("iexplore"), QStringLiteral("https://example.org/"));
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(rc, SE_ERR_FNF);
}

TEST(ShellExecute, TheOpenersOwnFailureIsReported) {
  {
    // xdg-open's status 3: nothing on the desktop opens this kind of file.
    RecordingOpener opener(3);
    const QString clip = makeFile(opener.folder() + QStringLiteral("/clip.avi"));
    EXPECT_EQ(open(clip), SE_ERR_NOASSOC);
    EXPECT_EQ(open(QStringLiteral("iexplore"), QStringLiteral("https://example.org/")), SE_ERR_NOASSOC);
    EXPECT_EQ(opener.calls().size(), 2u) << "each was tried once";
  }
  {
    // Status 2: the opener found no such file (an address to a lost page).
    RecordingOpener opener(2);
    EXPECT_EQ(open(QStringLiteral("iexplore"), QStringLiteral("file:///nowhere/index.html")), SE_ERR_FNF);
  }
}

TEST(ShellExecute, EveryChildIsReaped) {
  RecordingOpener opener;
  for (int i = 0; i < 5; ++i) EXPECT_GT(open(QStringLiteral("iexplore"), QStringLiteral("about:%1").arg(i)), 32);
  ASSERT_TRUE(opener.waitFor(5));
  if (unreapedChildren() < 0) GTEST_SKIP() << "no /proc children list";
  EXPECT_TRUE(testsupport::pumpUntil([] { return unreapedChildren() == 0; }, 5000)) << "zombies left behind";
}
