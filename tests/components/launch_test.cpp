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
