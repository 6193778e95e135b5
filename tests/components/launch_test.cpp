// LaunchFile and the help pages' addresses.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

#include "components/launch.h"
#include "support/recording_opener.h"

using namespace components;

TEST(HelpPages, EveryLinkedPageExistsAndIsAFileAddress) {
  for (const char* page : {"recording.html", "options.html", "builder.html", "index.html", "version.html"}) {
    const QUrl url(helpPageUrl(QLatin1String(page)));
    ASSERT_TRUE(url.isLocalFile()) << page;
    EXPECT_TRUE(QFile::exists(url.toLocalFile())) << url.toLocalFile().toStdString();
    EXPECT_TRUE(url.toLocalFile().endsWith(QLatin1String("/") + QLatin1String(page)));
  }
  // The installed place beside the executable comes first.
  EXPECT_EQ(helpDirs().first(),
            QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../share/kestrel/help")));
}

TEST(LaunchFile, PassesWholeStringsAndReportsTheShellsResult) {
  testsupport::RecordingOpener opener;
  QString longName = opener.folder() + QLatin1Char('/');
  longName += QString(120 - longName.size() - 4, 'n') + QStringLiteral(".avi");
  QFile(longName).open(QIODevice::WriteOnly);
  EXPECT_GT(LaunchFile(longName, QString(), QString(), 1), 32);
  ASSERT_TRUE(opener.waitFor(1));
  EXPECT_EQ(opener.calls()[0].args, QStringList{longName});
  EXPECT_EQ(LaunchFile(opener.folder() + QStringLiteral("/missing.avi"), QString(), QString(), 1), 2);
}

TEST(LaunchFile, FailuresAreToldInWordsNamingTheFile) {
  testsupport::RecordingOpener opener(3);
  const QString clip = opener.folder() + QStringLiteral("/clip.avi");
  QFile(clip).open(QIODevice::WriteOnly);
  const int noProgram = LaunchFile(clip, QString(), QString(), 1);
  EXPECT_LE(noProgram, 32);
  EXPECT_EQ(launchFailureMessage(QStringLiteral("the recording"), clip, noProgram),
            "Cannot open the recording " + clip + ": no program is set up to open this kind of file.");
  const QString web = QStringLiteral("https://example.org/help.html");
  const int noBrowser = LaunchFile(QStringLiteral("iexplore"), web, QString(), 1);
  EXPECT_LE(noBrowser, 32);
  EXPECT_EQ(launchFailureMessage(QStringLiteral("the help page"), web, noBrowser),
            "Cannot open the help page " + web + ": no web browser is set up to open addresses.");

  // A missing file, also behind a file:// address, is named by its path.
  const QString gone = opener.folder() + QStringLiteral("/gone.html");
  const int missing = LaunchFile(gone, QString(), QString(), 1);
  EXPECT_EQ(launchFailureMessage(QStringLiteral("the recording"), gone, missing),
            "Cannot open the recording " + gone + ": the file does not exist.");
  EXPECT_EQ(launchFailureMessage(QStringLiteral("the help page"), QUrl::fromLocalFile(gone).toString(), 2),
            "Cannot open the help page " + gone + ": the file does not exist.");

  // Without xdg-open on the PATH.
  const std::string savedPath = std::getenv("PATH");
  testsupport::TempDir empty;
  setenv("PATH", empty.path().toStdString().c_str(), 1);
  const int noOpener = LaunchFile(clip, QString(), QString(), 1);
  const QString message = launchFailureMessage(QStringLiteral("the recording"), clip, noOpener);
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_EQ(noOpener, 2);
  EXPECT_EQ(message, "Cannot open the recording " + clip +
                         ": xdg-open, which opens files with the desktop's programs, is not installed or not on the "
                         "PATH.");
}
