// The registry stand-in: regedit-style files in the settings directory.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "support/profile/helpers.h"

using namespace settingstest;
namespace fs = std::filesystem;

TEST(Registry, RootKeysHaveTheirOwnFiles) {
  ConfigHome home;
  EXPECT_EQ(registry::RootKeyFile(registry::HKEY_CURRENT_USER), home.dir() / "HKEY_CURRENT_USER.reg");
  EXPECT_EQ(registry::RootKeyFile(registry::HKEY_DYN_DATA), home.dir() / "HKEY_DYN_DATA.reg");
  EXPECT_TRUE(registry::RootKeyFile(registry::HKEY_PERFORMANCE_DATA).empty());
  EXPECT_TRUE(registry::RootKeyFile(0x12345678u).empty());
  registry::Registry r;
  r.RootKey = registry::HKEY_PERFORMANCE_DATA;
  EXPECT_FALSE(r.OpenKey("Software", true));
  EXPECT_EQ(registry::NormalizePath("\\Software\\\\Kestrel\\"), "Software\\Kestrel");
}

TEST(Registry, KeysOpenOnlyWhenPresentOrCreated) {
  ConfigHome home;
  registry::Registry r;
  r.RootKey = registry::HKEY_LOCAL_MACHINE;
  EXPECT_FALSE(r.OpenKey("Software\\Kestrel\\setup", false));
  EXPECT_FALSE(fs::exists(home.dir())) << "a failed open creates nothing";
  EXPECT_THROW(r.WriteString("x", "y"), registry::Error);

  ASSERT_TRUE(r.OpenKey("Software\\Kestrel\\setup\\", true));
  EXPECT_EQ(slurp(home.dir() / "HKEY_LOCAL_MACHINE.reg"),
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Kestrel\\setup]\n\n");
  r.CloseKey();
  EXPECT_TRUE(r.KeyExists("software\\KESTREL"));  // a parent exists through its child
  EXPECT_TRUE(r.OpenKey("SOFTWARE\\kestrel\\SETUP", false));
}

TEST(Registry, ValuesRoundTripThroughTheFile) {
  ConfigHome home;
  registry::Registry r;
  r.RootKey = registry::HKEY_CURRENT_USER;
  ASSERT_TRUE(r.OpenKey("Software\\Kestrel", true));
  r.WriteString("name", "quote \" and back\\slash");
  r.WriteInteger("count", -5);
  r.WriteInteger("big", 42);
  r.WriteString("", "default value");
  r.WriteString("Name", "replaced in place");
  EXPECT_EQ(slurp(home.dir() / "HKEY_CURRENT_USER.reg"),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Kestrel]\n"
            "\"name\"=\"replaced in place\"\n"
            "\"count\"=dword:fffffffb\n"
            "\"big\"=dword:0000002a\n"
            "@=\"default value\"\n\n");
  registry::Registry again;
  again.RootKey = registry::HKEY_CURRENT_USER;
  ASSERT_TRUE(again.OpenKey("software\\kestrel", false));
  EXPECT_EQ(again.ReadString("NAME"), "replaced in place");
  EXPECT_EQ(again.ReadInteger("count"), -5);
  EXPECT_EQ(again.ReadString("missing"), "");
  EXPECT_THROW(again.ReadInteger("missing"), registry::Error);
  EXPECT_THROW(again.ReadInteger("name"), registry::Error);
  EXPECT_THROW(again.ReadString("big"), registry::Error);
  EXPECT_TRUE(again.ValueExists("Big"));
  // The text format has no room for a line break in a value.
  EXPECT_THROW(again.WriteString("multi", "a\nb"), registry::Error);
}

TEST(Registry, UnknownLinesSurviveAndGarbageReadsAsMissing) {
  ConfigHome home;
  fs::create_directories(home.dir());
  const fs::path f = home.dir() / "HKEY_USERS.reg";
  using namespace std::string_literals;
  spit(f, "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n; note\r\n\r\n[HKEY_USERS\\a]\r\n"
          "\"bin\"=hex:01,02\r\n\"s\"=\"text\"\r\n\"broken=\r\n\0\0garbage\r\n"s);
  registry::Registry r;
  r.RootKey = registry::HKEY_USERS;
  ASSERT_TRUE(r.OpenKey("a", false));
  EXPECT_EQ(r.ReadString("s"), "text");
  EXPECT_EQ(r.ReadString("bin"), "");
  r.WriteInteger("n", 7);
  const std::string after = slurp(f);
  EXPECT_NE(after.find("; note\n"), std::string::npos);
  EXPECT_NE(after.find("\"bin\"=hex:01,02\n"), std::string::npos);
  EXPECT_NE(after.find("\"broken=\n"), std::string::npos);
  EXPECT_NE(after.find("\0\0garbage\n"s), std::string::npos);
  EXPECT_EQ(r.ReadInteger("n"), 7);
}

TEST(Registry, FailedWriteRaisesAndKeepsTheFile) {
  ConfigHome home;
  registry::Registry r;
  r.RootKey = registry::HKEY_CLASSES_ROOT;
  ASSERT_TRUE(r.OpenKey("k", true));
  r.WriteString("v", "old");
  const fs::path f = home.dir() / "HKEY_CLASSES_ROOT.reg";
  const std::string before = slurp(f);
  ASSERT_EQ(::chmod(f.c_str(), 0444), 0);
  try {
    r.WriteString("v", "new");
    FAIL() << "the write should have failed";
  } catch (const registry::Error& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'v'");
  }
  EXPECT_EQ(slurp(f), before);
  EXPECT_EQ(listDir(home.dir()), std::vector<std::string>{"HKEY_CLASSES_ROOT.reg"});
}
