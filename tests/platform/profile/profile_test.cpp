// The private-profile functions against real files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "platform/profile/atomicfile.h"
#include "platform/profile/profile.h"
#include "support/profile/helpers.h"

using namespace settingstest;
namespace fs = std::filesystem;

namespace {

std::string get(const char* section, const char* key, const char* def, const fs::path& file, unsigned size = 1024) {
  std::string buf(size, '\x7f');
  const profile::DWORD n = profile::GetPrivateProfileString(section, key, def, buf.data(), size, file.c_str());
  EXPECT_LT(n, size);
  EXPECT_EQ(buf[n], '\0');
  return buf.substr(0, n);
}

bool put(const char* section, const char* key, const char* value, const fs::path& file) {
  return profile::WritePrivateProfileString(section, key, value, file.c_str()) != 0;
}

class Profile : public ::testing::Test {
 protected:
  ConfigHome home;
  testsupport::TempDir tmp;
  fs::path file = fs::path(tmp.path().toStdString()) / "test.ini";
};

}  // namespace

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(get("setup", "stretch", "dflt", file), "dflt");
  EXPECT_FALSE(fs::exists(file)) << "reading must not create the file";
  spit(file, "[setup]\nstretch=1\n");
  EXPECT_EQ(get("other", "stretch", "d", file), "d");
  EXPECT_EQ(get("setup", "missing", "d", file), "d");
  // The default loses its trailing spaces; no default means "".
  EXPECT_EQ(get("setup", "missing", "two  ", file), "two");
  EXPECT_EQ(get("setup", "missing", nullptr, file), "");
  // A key line without '=' is a key without a value.
  spit(file, "[setup]\nlonely\n");
  EXPECT_EQ(get("setup", "lonely", "d", file), "d");
}

TEST_F(Profile, NamesMatchWithoutCaseAndBlanksAreIgnored) {
  spit(file,
       "; a comment\n"
       "[ SetUp ]  \n"
       "  Stretch   =   yes please  \n"
       "\tframerate\t=\t5\t\n"
       "empty=\n"
       "inline=v ; not a comment\n"
       "quoted=\"  padded  \"\n");
  EXPECT_EQ(get("setup", "stretch", "d", file), "yes please");
  EXPECT_EQ(get("SETUP", "STRETCH", "d", file), "yes please");
  EXPECT_EQ(get("  setup ", " stretch ", "d", file), "yes please");
  EXPECT_EQ(get("setup", "FrameRate", "d", file), "5");
  EXPECT_EQ(get("setup", "empty", "d", file), "");
  EXPECT_EQ(get("setup", "inline", "d", file), "v ; not a comment");
  EXPECT_EQ(get("setup", "quoted", "d", file), "  padded  ");
  EXPECT_EQ(get("setup", "; a comment", "d", file), "d");
}

TEST_F(Profile, FirstSectionAndFirstKeyWin) {
  spit(file, "top=level\n[a]\nk=1\nk=2\n[b]\nk=3\n[A]\nk=4\nonly=5\n");
  EXPECT_EQ(get("a", "k", "d", file), "1");
  EXPECT_EQ(get("b", "k", "d", file), "3");
  EXPECT_EQ(get("a", "only", "d", file), "d") << "only the first section of a name is searched";
  EXPECT_EQ(get("", "top", "d", file), "level") << "keys before any header form the unnamed section";
}

TEST_F(Profile, ReadsAtMost1023CharactersThroughTheBuffer) {
  const std::string longValue(2000, 'x');
  spit(file, "[s]\nk=" + longValue + "\n");
  EXPECT_EQ(get("s", "k", "", file), std::string(1023, 'x'));
  EXPECT_EQ(get("s", "k", "", file, 5), "xxxx");
  // A cut never leaves half a UTF-8 character behind.
  spit(file, "[s]\nk=ab\xC3\xA9\xC3\xA9\n");
  EXPECT_EQ(get("s", "k", "", file, 4), "ab");
  EXPECT_EQ(get("s", "k", "", file, 5), "ab\xC3\xA9");
  // No buffer, nothing copied.
  EXPECT_EQ(profile::GetPrivateProfileString("s", "k", "d", nullptr, 10, file.c_str()), 0u);
  char one = 'z';
  EXPECT_EQ(profile::GetPrivateProfileString("s", "k", "d", &one, 0, file.c_str()), 0u);
  EXPECT_EQ(one, 'z');
}

TEST_F(Profile, FirstWriteCreatesFileAndSection) {
  ASSERT_TRUE(put("setup", "stretch", "1", file));
  EXPECT_EQ(slurp(file), "[setup]\nstretch=1\n");
  ASSERT_TRUE(put("setup", "framerate", "  12  ", file));
  EXPECT_EQ(get("setup", "framerate", "", file), "12");
  ASSERT_TRUE(put("other", "x", "y", file));
  EXPECT_EQ(slurp(file), "[setup]\nstretch=1\nframerate=12  \n\n[other]\nx=y\n");
}

TEST_F(Profile, WritingKeepsEveryOtherLine) {
  const std::string before =
      "\xEF\xBB\xBF; settings\r\n"
      "[Setup]\r\n"
      "; keep me\r\n"
      "Stretch = 0\r\n"
      "garbage line\r\n"
      "\r\n"
      "[later]\r\n"
      "a=b";
  spit(file, before);
  ASSERT_TRUE(put("setup", "stretch", "1", file));
  ASSERT_TRUE(put("SETUP", "avi", "0", file));
  ASSERT_TRUE(put("later", "c", "d", file));
  ASSERT_TRUE(put("new", "e", "f", file));
  EXPECT_EQ(slurp(file),
            "\xEF\xBB\xBF; settings\r\n"
            "[Setup]\r\n"
            "; keep me\r\n"
            "Stretch=1\r\n"
            "garbage line\r\n"
            "avi=0\r\n"
            "\r\n"
            "[later]\r\n"
            "a=b\r\n"
            "c=d\r\n"
            "\r\n"
            "[new]\r\n"
            "e=f\r\n");
}

TEST_F(Profile, AnUnchangedValueDoesNotRewriteTheFile) {
  ASSERT_TRUE(put("s", "k", "v", file));
  struct stat a {};
  ASSERT_EQ(::stat(file.c_str(), &a), 0);
  ASSERT_TRUE(put("S", "K", "v", file));
  struct stat b {};
  ASSERT_EQ(::stat(file.c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
}

TEST_F(Profile, BareNamesLiveInTheConfigDirectory) {
  EXPECT_EQ(profile::ConfigDirectory(), home.dir());
  EXPECT_FALSE(fs::exists(home.dir()));
  EXPECT_EQ(get("s", "k", "d", "kestrel.ini"), "d");
  EXPECT_FALSE(fs::exists(home.dir())) << "reading creates nothing";
  ASSERT_TRUE(put("s", "k", "v", "kestrel.ini"));
  EXPECT_EQ(slurp(home.dir() / "kestrel.ini"), "[s]\nk=v\n");
  EXPECT_EQ(get("s", "k", "d", "kestrel.ini"), "v");
  // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(profile::ConfigDirectory(), fs::path(std::getenv("HOME")) / ".config" / "kestrel");
}

TEST_F(Profile, WithoutAUsableHomeBareNamesPointNowhere) {
  EnvVar noXdg("XDG_CONFIG_HOME", nullptr);
  const fs::path oldCwd = fs::current_path();
  fs::current_path(tmp.path().toStdString());
  spit("kestrel.ini", "[s]\nk=here\n");
  for (const char* value : {static_cast<const char*>(nullptr), "", "relative", "/proc/self/status"}) {
    SCOPED_TRACE(value ? value : "(unset)");
    EnvVar h("HOME", value);
    EXPECT_FALSE(profile::ConfigDirectoryProblem().empty());
    EXPECT_TRUE(profile::ConfigDirectory().empty());
    EXPECT_FALSE(profile::EnsureConfigDirectory());
    EXPECT_EQ(get("s", "k", "d", "kestrel.ini"), "d") << "the current folder stands in for nothing";
    EXPECT_FALSE(put("s", "k", "v", "kestrel.ini"));
  }
  EXPECT_EQ(slurp("kestrel.ini"), "[s]\nk=here\n");
  {
    // A HOME that is a folder, or an absolute XDG_CONFIG_HOME alone, is enough.
    EnvVar h("HOME", tmp.path().toLocal8Bit().constData());
    EXPECT_EQ(profile::ConfigDirectoryProblem(), "");
    EXPECT_EQ(profile::ConfigDirectory(), fs::path(tmp.path().toStdString()) / ".config" / "kestrel");
  }
  {
    EnvVar h("HOME", nullptr);
    EnvVar x("XDG_CONFIG_HOME", home.root().c_str());
    EXPECT_EQ(profile::ConfigDirectory(), home.dir());
  }
  fs::current_path(oldCwd);
}

TEST_F(Profile, RefusesWhatWouldBreakTheFileStructure) {
  spit(file, "[s]\nk=v\n");
  EXPECT_FALSE(put("s", "k", "two\nlines", file));
  EXPECT_FALSE(put("s", "k", "cr\rhere", file));
  EXPECT_FALSE(put("s]x", "k", "v", file));
  EXPECT_FALSE(put("s", "a=b", "v", file));
  EXPECT_FALSE(put("s", ";k", "v", file));
  EXPECT_FALSE(put("s", "[k", "v", file));
  EXPECT_FALSE(put("s", "  ", "v", file));
  EXPECT_FALSE(put(" ", "k", "v", file));
  // Deleting is not supported and says so.
  EXPECT_FALSE(put("s", "k", nullptr, file));
  EXPECT_FALSE(put("s", nullptr, "v", file));
  EXPECT_EQ(slurp(file), "[s]\nk=v\n");
}

TEST_F(Profile, ReplacesAtomicallyKeepingModeAndLinks) {
  spit(file, "[s]\nk=v\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(put("s", "k", "w", file));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(listDir(file.parent_path()), std::vector<std::string>{"test.ini"});

  // A linked settings file stays a link; its target gets the change.
  const fs::path target = file.parent_path() / "real.ini";
  const fs::path link = file.parent_path() / "link.ini";
  spit(target, "[s]\nk=1\n");
  fs::create_symlink(target, link);
  ASSERT_TRUE(put("s", "k", "2", link));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(slurp(target), "[s]\nk=2\n");
}

TEST_F(Profile, DanglingLinksGetTheirTargetCreatedAndStayLinks) {
  const fs::path dir = file.parent_path();
  // Relative and absolute targets, through a chain of two links.
  fs::create_symlink("real.ini", dir / "relative.ini");
  ASSERT_TRUE(put("s", "k", "1", dir / "relative.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "relative.ini"));
  EXPECT_EQ(fs::read_symlink(dir / "relative.ini"), fs::path("real.ini"));
  EXPECT_EQ(slurp(dir / "real.ini"), "[s]\nk=1\n");

  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "sub" / "deep.ini", dir / "second.ini");
  fs::create_symlink(dir / "second.ini", dir / "first.ini");
  ASSERT_TRUE(put("s", "k", "2", dir / "first.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "first.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "second.ini"));
  EXPECT_EQ(slurp(dir / "sub" / "deep.ini"), "[s]\nk=2\n");
  EXPECT_EQ(listDir(dir / "sub"), std::vector<std::string>{"deep.ini"}) << "no temporary file left";

  // The settings file in the config directory, linked to a file that is not
  // there yet: the link survives the save.
  fs::create_directories(home.dir());
  fs::create_symlink(dir / "kept.ini", home.dir() / "kestrel.ini");
  ASSERT_TRUE(put("setup", "framerate", "5", "kestrel.ini"));
  EXPECT_TRUE(fs::is_symlink(home.dir() / "kestrel.ini"));
  EXPECT_EQ(slurp(dir / "kept.ini"), "[setup]\nframerate=5\n");
  EXPECT_EQ(get("setup", "framerate", "2", "kestrel.ini"), "5");

  // A target whose folder is missing is not made up: the write fails and
  // the link is left as it was.
  fs::create_symlink(dir / "nowhere" / "x.ini", dir / "lost.ini");
  EXPECT_FALSE(put("s", "k", "3", dir / "lost.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "lost.ini"));
  EXPECT_FALSE(fs::exists(dir / "nowhere"));

  // A loop of links is refused rather than followed forever.
  fs::create_symlink(dir / "loop-b.ini", dir / "loop-a.ini");
  fs::create_symlink(dir / "loop-a.ini", dir / "loop-b.ini");
  EXPECT_FALSE(put("s", "k", "4", dir / "loop-a.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "loop-a.ini"));
}

// The ways a write can fail. Tests run as root, who ignores permission
// bits, so each case uses something that stops root too.
TEST_F(Profile, ReadOnlyFileFailsAndStaysIntact) {
  const std::string before = "[s]\nk=v\n";
  spit(file, before);
  // No write bit at all is the read-only mark, even for root.
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_FALSE(put("s", "k", "w", file));
  EXPECT_FALSE(put("s", "k", "v", file)) << "an unchanged value on a read-only file is still a failed write";
  EXPECT_EQ(slurp(file), before);
  EXPECT_EQ(listDir(file.parent_path()), std::vector<std::string>{"test.ini"});

  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  Immutable lock(file);
  if (!lock.ok()) GTEST_SKIP() << "chattr +i is not available here; the immutable case is not covered";
  EXPECT_FALSE(put("s", "k", "w", file));
  EXPECT_EQ(slurp(file), before);
  EXPECT_EQ(listDir(file.parent_path()), std::vector<std::string>{"test.ini"});
}

TEST_F(Profile, ReadOnlyDirectoryFails) {
  const fs::path dir = fs::path(tmp.path().toStdString()) / "locked";
  fs::create_directories(dir);
  const fs::path existing = dir / "old.ini";
  spit(existing, "[s]\nk=v\n");
  Immutable lock(dir);
  if (!lock.ok()) GTEST_SKIP() << "chattr +i is not available here, so no directory is read-only for root";
  EXPECT_FALSE(put("s", "k", "v", dir / "new.ini"));
  EXPECT_FALSE(put("s", "k", "w", existing));
  EXPECT_EQ(slurp(existing), "[s]\nk=v\n");
  EXPECT_EQ(listDir(dir), std::vector<std::string>{"old.ini"});
}

TEST_F(Profile, ImpossiblePathsFail) {
  // A file where a directory should be, and the kernel's own tree.
  spit(fs::path(tmp.path().toStdString()) / "plain", "x");
  EXPECT_FALSE(put("s", "k", "v", fs::path(tmp.path().toStdString()) / "plain" / "x.ini"));
  EXPECT_FALSE(put("s", "k", "v", "/proc/kestrel-test.ini"));
  // A directory in the file's place reads as missing and is not replaced.
  fs::create_directories(file);
  EXPECT_EQ(get("s", "k", "d", file), "d");
  EXPECT_FALSE(put("s", "k", "v", file));
  EXPECT_TRUE(fs::is_directory(file));
  // The settings directory cannot be made: its parent is a file.
  ::setenv("XDG_CONFIG_HOME", (fs::path(tmp.path().toStdString()) / "plain").c_str(), 1);
  EXPECT_FALSE(put("s", "k", "v", "kestrel.ini"));
}

TEST_F(Profile, FullDiskFailsAndKeepsTheOldFile) {
  const fs::path mnt = fs::path(tmp.path().toStdString()) / "disk";
  TinyDisk disk(mnt, "8k");
  if (!disk.ok()) GTEST_SKIP() << "cannot mount a tmpfs here; the full-disk case is not covered";
  const fs::path f = mnt / "full.ini";
  const std::string before = "[s]\nk=" + std::string(3000, 'a') + "\n";
  spit(f, before);
  ASSERT_EQ(slurp(f), before);
  EXPECT_FALSE(put("s", "k", std::string(6000, 'b').c_str(), f));
  EXPECT_EQ(slurp(f), before);
  EXPECT_EQ(listDir(mnt), std::vector<std::string>{"full.ini"});
}

TEST_F(Profile, ReadsAnythingWithoutHarm) {
  // Binary garbage with NUL bytes around a good section.
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) & 0xFF));
  spit(file, junk + "\n[s]\nk=v\nnul=a" + std::string(1, '\0') + "b\n" + junk);
  EXPECT_EQ(get("s", "k", "d", file), "v");
  EXPECT_EQ(get("s", "nul", "d", file), "d") << "a line with a NUL byte is not understood";
  // Writing into such a file keeps the garbage byte for byte.
  const std::string before = slurp(file);
  ASSERT_TRUE(put("s", "k", "w", file));
  const std::string after = slurp(file);
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(0, 4096), junk);

  // CR alone ends lines too; no final newline.
  spit(file, "[s]\rk=cr\r[t]\rk=last");
  EXPECT_EQ(get("s", "k", "d", file), "cr");
  EXPECT_EQ(get("t", "k", "d", file), "last");
  // A header without its bracket is not a header.
  spit(file, "[s\nk=v\n");
  EXPECT_EQ(get("s", "k", "d", file), "d");
}

TEST_F(Profile, HugeFilesTakeLinearTime) {
  // Two million lines and one line of 8 MB: each read is one pass.
  std::string big;
  big.reserve(40u << 20);
  big += "[s]\n";
  for (int i = 0; i < 2'000'000; ++i) big += "key" + std::to_string(i) + "=v\n";
  big += "long=" + std::string(8u << 20, 'x') + "\n";
  big += "last=found\n";
  spit(file, big);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(get("s", "last", "d", file), "found");
  EXPECT_EQ(get("s", "long", "d", file), std::string(1023, 'x'));
  ASSERT_TRUE(put("s", "key1999999", "w", file));
  EXPECT_EQ(get("s", "key1999999", "d", file), "w");
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(secs, 20.0);

  // Beyond the size cap the file is not parsed and not rewritten.
  std::filesystem::resize_file(file, profile::kMaxSettingsFileSize + 1);
  EXPECT_EQ(get("s", "last", "d", file), "d");
  EXPECT_FALSE(put("s", "k", "v", file));
  EXPECT_EQ(fs::file_size(file), profile::kMaxSettingsFileSize + 1);
}
