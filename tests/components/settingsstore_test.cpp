// The settings store component in INI and in registry mode.
#include <gtest/gtest.h>

#include <QMetaProperty>
#include <functional>

#include "components/settingsstore.h"
#include "framework/errors.h"
#include "support/profile/helpers.h"

using namespace components;

using namespace settingstest;
namespace fs = std::filesystem;

namespace {

class Store : public ::testing::Test {
 protected:
  ConfigHome home;
  components::SettingsStore store{nullptr};
  fs::path ini() const { return home.dir() / "kestrel.ini"; }
  void openIni() {
    store.setSaveToINI(true);
    store.setINIFile(QStringLiteral("kestrel.ini"));
    store.OpenStore();
  }
  void openRegistry(bool canCreate) {
    store.setSaveToINI(false);
    store.setRegPath(QStringLiteral("Software\\Kestrel"));
    store.setRootKey(kHKEY_CURRENT_USER);
    store.setCanCreate(canCreate);
    store.OpenStore();
  }
};

template <typename E>
QString messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return QString::fromUtf8(e.what());
  }
  return QStringLiteral("<nothing raised>");
}

}  // namespace

TEST_F(Store, PropertiesAtCreationAndTheReadOnlyOnes) {
  EXPECT_FALSE(store.SaveToINI());
  EXPECT_TRUE(store.INIFile().isEmpty());
  EXPECT_TRUE(store.RegPath().isEmpty());
  EXPECT_EQ(store.RootKey(), kHKEY_LOCAL_MACHINE);
  EXPECT_FALSE(store.CanCreate());
  EXPECT_EQ(store.Version(), QStringLiteral("v1.0b"));
  const QString mail = store.eMail();
  store.setVersion(QStringLiteral("v9"));
  store.seteMail(QStringLiteral("someone@example.org"));
  store.setProperty("Version", QStringLiteral("v9"));
  store.setProperty("eMail", QStringLiteral("x"));
  EXPECT_EQ(store.Version(), QStringLiteral("v1.0b"));
  EXPECT_EQ(store.eMail(), mail);
  // The published order, as the form description loads them.
  const QMetaObject* mo = store.metaObject();
  QStringList names;
  for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i) names << QString::fromLatin1(mo->property(i).name());
  EXPECT_EQ(names, (QStringList{"SaveToINI", "INIFile", "RegPath", "RootKey", "CanCreate", "Version", "eMail"}));
}

TEST_F(Store, RootKeyHandles) {
  const std::pair<HKeys, registry::HKEY> table[] = {
      {kHKEY_CLASSES_ROOT, 0x80000000u}, {kHKEY_CURRENT_USER, 0x80000001u}, {kHKEY_LOCAL_MACHINE, 0x80000002u},
      {kHKEY_USERS, 0x80000003u},        {kHKEY_CURRENT_CONFIG, 0x80000005u}, {kHKEY_DYN_DATA, 0x80000006u}};
  for (const auto& [key, handle] : table) {
    store.setRootKey(key);
    EXPECT_EQ(store.RootKeyHandle(), handle);
  }
  store.setProperty("RootKey", 17);
  EXPECT_EQ(store.RootKeyHandle(), registry::HKEY_LOCAL_MACHINE);
}

TEST_F(Store, OpenStoreRefusesBlankNames) {
  store.setSaveToINI(true);
  store.setINIFile(QStringLiteral(" \t\r\n\x01 "));
  EXPECT_EQ(messageOf<platform::EInOutError>([&] { store.OpenStore(); }), QStringLiteral("INI file does not exist !!"));
  EXPECT_FALSE(store.isOpen());
  store.setSaveToINI(false);
  store.setRegPath(QStringLiteral("   "));
  EXPECT_EQ(messageOf<platform::EInOutError>([&] { store.OpenStore(); }),
            QStringLiteral("You must insert a registry string !!"));
  EXPECT_FALSE(store.isOpen());
  // Reading a store that never opened says so instead of crashing.
  EXPECT_THROW(store.ReadString("s", "k", "d"), platform::EInOutError);
  EXPECT_THROW(store.WriteBool("s", "k", true), platform::EInOutError);
}

TEST_F(Store, RegPathGainsOneTrailingBackslash) {
  openRegistry(false);
  EXPECT_EQ(store.RegPath(), QStringLiteral("Software\\Kestrel\\"));
  store.OpenStore();
  EXPECT_EQ(store.RegPath(), QStringLiteral("Software\\Kestrel\\"));
  store.CloseStore();
  store.CloseStore();  // twice is harmless
}

TEST_F(Store, IniIntegersAndBooleans) {
  openIni();
  EXPECT_FALSE(fs::exists(ini())) << "opening touches no file";
  EXPECT_EQ(store.ReadInteger("s", "k", 77), 77);
  const std::pair<const char*, int> cases[] = {{"0x1F", 31}, {"0X1f", 31}, {"$1F", 31}, {"12", 12},  {" -12 ", -12},
                                               {"0x", 77},   {"abc", 77},  {"", 77},    {"1.5", 77}, {"99999999999", 77}};
  for (const auto& [text, expect] : cases) {
    store.WriteString("s", "k", QString::fromLatin1(text));
    EXPECT_EQ(store.ReadInteger("s", "k", 77), expect) << text;
  }
  const std::tuple<const char*, bool, bool> bools[] = {
      {"2", false, true}, {"0", true, false}, {"yes", true, true}, {"yes", false, false}, {"0x0", true, false}};
  for (const auto& [text, def, expect] : bools) {
    store.WriteString("s", "b", QString::fromLatin1(text));
    EXPECT_EQ(store.ReadBool("s", "b", def), expect) << text;
  }
  store.WriteBool("s", "t", true);
  store.WriteBool("s", "f", false);
  store.WriteInteger("s", "n", -5);
  EXPECT_EQ(store.ReadString("s", "t", "d"), QStringLiteral("1"));
  EXPECT_EQ(store.ReadString("s", "f", "d"), QStringLiteral("0"));
  EXPECT_EQ(store.ReadString("s", "n", "d"), QStringLiteral("-5"));
  // An INI key that is there but empty is the empty string, not the default.
  store.WriteString("s", "e", QString());
  EXPECT_EQ(store.ReadString("s", "e", "d"), QString());
  // Text other than ASCII survives the trip.
  store.WriteString("s", "u", QStringLiteral("Grüße ✓"));
  EXPECT_EQ(store.ReadString("s", "u", "d"), QStringLiteral("Grüße ✓"));
  store.CloseStore();
}

TEST_F(Store, IniWriteFailureNamesTheFile) {
  openIni();
  store.WriteString("setup", "framerate", "2");
  const std::string before = slurp(ini());
  ASSERT_EQ(::chmod(ini().c_str(), 0444), 0);
  EXPECT_EQ(messageOf<platform::Exception>([&] { store.WriteString("setup", "framerate", "5"); }),
            QStringLiteral("Unable to write to kestrel.ini"));
  EXPECT_EQ(messageOf<platform::Exception>([&] { store.WriteBool("setup", "ask1", true); }),
            QStringLiteral("Unable to write to kestrel.ini"));
  store.CloseStore();
  EXPECT_EQ(slurp(ini()), before);
}

TEST_F(Store, WithoutAUsableHomeTheStoreSaysSoAndKeepsNothing) {
  testsupport::TempDir tmp;
  const fs::path cwd = tmp.path().toStdString();
  const fs::path plainFile = cwd / "not-a-folder";
  spit(plainFile, "x");
  const fs::path oldCwd = fs::current_path();
  fs::current_path(cwd);
  EnvVar noXdg("XDG_CONFIG_HOME", nullptr);
  // Where settings used to end up without a home.
  const fs::path sharedIni = "/tmp/.config/kestrel/kestrel.ini";
  const bool sharedBefore = fs::exists(sharedIni);
  const std::string fileHome = plainFile.string();
  const struct {
    const char* home;
    QString why;
  } cases[] = {{nullptr, QStringLiteral("HOME is not set")},
               {"", QStringLiteral("HOME is empty")},
               {"relative/home", QStringLiteral("HOME (relative/home) is not an absolute path")},
               {fileHome.c_str(), QStringLiteral("HOME (%1) is not a folder").arg(QString::fromStdString(fileHome))}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why.toStdString());
    EnvVar home("HOME", c.home);
    const QString message = QStringLiteral(
                                "Kestrel cannot keep its settings: %1, and XDG_CONFIG_HOME does not name a folder "
                                "either. Preferences (kestrel.ini) are neither read nor saved; Kestrel starts with "
                                "its defaults. Set HOME to your home folder and start Kestrel again to keep them.")
                                .arg(c.why);
    components::SettingsStore s(nullptr);
    s.setSaveToINI(true);
    s.setINIFile(QStringLiteral("kestrel.ini"));
    EXPECT_EQ(messageOf<platform::EInOutError>([&] { s.OpenStore(); }), message);
    EXPECT_FALSE(s.isOpen());
    // Opened again (the start-up code retries), the store gives the defaults
    // without a second message, and every write still says why.
    ASSERT_NO_THROW(s.OpenStore());
    spit(cwd / "kestrel.ini", "[setup]\nframerate=9\n");
    EXPECT_EQ(s.ReadString("setup", "framerate", "2"), QStringLiteral("2")) << "the current folder is not read";
    EXPECT_EQ(messageOf<platform::EInOutError>([&] { s.WriteString("setup", "framerate", "5"); }), message);
    EXPECT_EQ(messageOf<platform::EInOutError>([&] { s.WriteBool("setup", "ask1", true); }), message);
    s.CloseStore();
    EXPECT_EQ(slurp(cwd / "kestrel.ini"), "[setup]\nframerate=9\n");
    EXPECT_EQ(fs::exists(sharedIni), sharedBefore) << "no shared folder stands in";

    // The registry's files would live in the same folder.
    s.setSaveToINI(false);
    s.setRegPath(QStringLiteral("Software\\Kestrel"));
    EXPECT_THROW(s.OpenStore(), platform::EInOutError);

    // A file named with its folder needs no settings folder.
    s.setSaveToINI(true);
    s.setINIFile(QString::fromStdString((cwd / "own.ini").string()));
    ASSERT_NO_THROW(s.OpenStore());
    s.WriteString("setup", "framerate", "7");
    EXPECT_EQ(s.ReadString("setup", "framerate", "2"), QStringLiteral("7"));
    s.CloseStore();
  }
  fs::current_path(oldCwd);
  EXPECT_FALSE(fs::exists(home.dir())) << "the test's own settings folder was never created";
}

TEST_F(Store, RegistryModeValues) {
  openRegistry(false);
  // Without CanCreate the key is missing: reads give defaults, writes raise.
  EXPECT_EQ(store.ReadString("setup", "k", "d"), QStringLiteral("d"));
  EXPECT_EQ(store.ReadInteger("setup", "k", 4), 4);
  EXPECT_EQ(messageOf<registry::Error>([&] { store.WriteString("setup", "k", "v"); }),
            QStringLiteral("Failed to set data for 'k'"));
  store.CloseStore();

  openRegistry(true);
  store.WriteString("setup", "text", "hello");
  store.WriteString("setup", "empty", "");
  store.WriteInteger("setup", "n", -5);
  store.WriteBool("setup", "b", true);
  EXPECT_EQ(store.ReadString("setup", "text", "d"), QStringLiteral("hello"));
  EXPECT_EQ(store.ReadString("setup", "empty", "d"), QStringLiteral("d")) << "empty registry string reads as default";
  EXPECT_EQ(store.ReadInteger("setup", "n", 0), -5);
  EXPECT_TRUE(store.ReadBool("setup", "b", false));
  // The wrong type of value is a failed read.
  EXPECT_EQ(store.ReadInteger("setup", "text", 9), 9);
  EXPECT_EQ(store.ReadString("setup", "n", "d"), QStringLiteral("d"));
  store.CloseStore();
  const std::string file = slurp(home.dir() / "HKEY_CURRENT_USER.reg");
  EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\Kestrel\\setup]\n"), std::string::npos);
  EXPECT_NE(file.find("\"b\"=dword:00000001\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(Store, TheModeChosenAtOpenStoreHoldsUntilTheNext) {
  openIni();
  store.setSaveToINI(false);  // no effect until the next OpenStore
  store.WriteString("setup", "k", "ini");
  EXPECT_EQ(store.ReadString("setup", "k", "d"), QStringLiteral("ini"));
  store.CloseStore();
  EXPECT_TRUE(fs::exists(ini()));
  EXPECT_FALSE(fs::exists(home.dir() / "HKEY_LOCAL_MACHINE.reg"));
  EXPECT_FALSE(store.isOpen());

  // A failing OpenStore keeps the earlier choice.
  openRegistry(true);
  store.setSaveToINI(true);
  store.setINIFile(QStringLiteral("  "));
  EXPECT_THROW(store.OpenStore(), platform::EInOutError);
  store.WriteString("setup", "k", "reg");
  EXPECT_EQ(store.ReadString("setup", "k", "d"), QStringLiteral("reg"));
  store.CloseStore();
  EXPECT_EQ(slurp(ini()).find("reg"), std::string::npos);
}
