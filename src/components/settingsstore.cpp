#include "components/settingsstore.h"

#include <QByteArray>

#include "framework/errors.h"
#include "platform/profile/profile.h"

namespace components {

// The INI-file accessor: one settings file, read and written through the
// private-profile functions.
class IniFileStore {
 public:
  explicit IniFileStore(const QString& fileName) : fileName_(fileName), file_(fileName.toUtf8()) {}

  QString ReadString(const QString& section, const QString& key, const QString& def) const {
    // The private-profile functions hand back at most 1023 bytes.
    char buffer[1024];
    const profile::DWORD n = profile::GetPrivateProfileString(section.toUtf8().constData(), key.toUtf8().constData(),
                                                              def.toUtf8().constData(), buffer, sizeof buffer,
                                                              file_.constData());
    return QString::fromUtf8(buffer, static_cast<qsizetype>(n));
  }

  void WriteString(const QString& section, const QString& key, const QString& value) const {
    if (profile::WritePrivateProfileString(section.toUtf8().constData(), key.toUtf8().constData(),
                                           value.toUtf8().constData(), file_.constData()))
      return;
    if (const QString why = SettingsFolderProblem(fileName_); !why.isEmpty()) throw framework::EInOutError(why);
    throw framework::Exception(QStringLiteral("Unable to write to %1").arg(fileName_));
  }

 private:
  QString fileName_;
  QByteArray file_;
};

namespace {

QString noFolderMessage(const QString& what) {
  const std::string why = profile::ConfigDirectoryProblem();
  if (why.empty()) return {};
  return QStringLiteral(
             "Kestrel cannot keep its settings: %1, and XDG_CONFIG_HOME does not name a folder either. "
             "Preferences (%2) are neither read nor saved; Kestrel starts with its defaults. "
             "Set HOME to your home folder and start Kestrel again to keep them.")
      .arg(QString::fromStdString(why), what);
}

}  // namespace

QString SettingsFolderProblem(const QString& iniFile) {
  // A name with a folder part does not need the settings folder.
  if (iniFile.contains(QLatin1Char('/'))) return {};
  return noFolderMessage(iniFile);
}

namespace {

// Trim as the framework does: spaces and control characters at both ends.
QString trimControls(const QString& s) {
  qsizetype b = 0;
  qsizetype e = s.size();
  while (b < e && s[b].unicode() <= ' ') ++b;
  while (e > b && s[e - 1].unicode() <= ' ') --e;
  return s.mid(b, e - b);
}

}  // namespace

SettingsStore::SettingsStore(QObject* owner) : QObject(owner), FeMail(QString()), FVersion(QStringLiteral("v1.0b")) {}

SettingsStore::~SettingsStore() = default;

registry::HKEY SettingsStore::RootKeyHandle() const {
  switch (FRootKey) {
    case kHKEY_CLASSES_ROOT: return registry::HKEY_CLASSES_ROOT;
    case kHKEY_CURRENT_USER: return registry::HKEY_CURRENT_USER;
    case kHKEY_LOCAL_MACHINE: return registry::HKEY_LOCAL_MACHINE;
    case kHKEY_USERS: return registry::HKEY_USERS;
    case kHKEY_CURRENT_CONFIG: return registry::HKEY_CURRENT_CONFIG;
    case kHKEY_DYN_DATA: return registry::HKEY_DYN_DATA;
  }
  return registry::HKEY_LOCAL_MACHINE;
}

void SettingsStore::OpenStore() {
  if (FSaveToINI) {
    if (trimControls(FINIFile).isEmpty()) throw framework::EInOutError(QStringLiteral("INI file does not exist !!"));
    // Said once per store: the caller may open it again right away (a
    // start-up timer retrying), and the same box must not come back each
    // time. Later opens read the defaults; every write still says why it
    // cannot be kept.
    if (const QString why = SettingsFolderProblem(FINIFile); !why.isEmpty() && !toldNoSettingsFolder_) {
      toldNoSettingsFolder_ = true;
      throw framework::EInOutError(why);
    }
    // The name goes on unchanged; opening touches no file.
    IniAccess = std::make_unique<IniFileStore>(FINIFile);
  } else {
    if (trimControls(FRegPath).isEmpty())
      throw framework::EInOutError(QStringLiteral("You must insert a registry string !!"));
    // The registry's files live in the settings folder too; without it
    // they would be looked for in whatever the current folder is.
    if (const QString why = noFolderMessage(FRegPath); !why.isEmpty()) throw framework::EInOutError(why);
    RegAccess = std::make_unique<registry::Registry>();
    RegAccess->RootKey = RootKeyHandle();
    if (!FRegPath.endsWith(QLatin1Char('\\'))) FRegPath += QLatin1Char('\\');
  }
  OpenedAsINI = FSaveToINI;
}

void SettingsStore::CloseStore() {
  // Freeing the accessor must never stop the caller.
  try {
    if (OpenedAsINI)
      IniAccess.reset();
    else
      RegAccess.reset();
  } catch (...) {
  }
}

bool SettingsStore::isOpen() const { return OpenedAsINI ? IniAccess != nullptr : RegAccess != nullptr; }

void SettingsStore::requireOpen() const {
  // Reading or writing a closed store would use an accessor that is not
  // there; say so instead.
  if (!isOpen()) throw framework::EInOutError(QStringLiteral("The settings store is not open"));
}

std::string SettingsStore::regKeyPath(const QString& section) const { return (FRegPath + section).toStdString(); }

void SettingsStore::WriteString(const QString& section, const QString& key, const QString& value) {
  requireOpen();
  if (OpenedAsINI) {
    IniAccess->WriteString(section, key, value);
    return;
  }
  // Whether the key opened is not checked: writing to an unopened key
  // raises the registry's own error.
  RegAccess->OpenKey(regKeyPath(section), FCanCreate);
  try {
    RegAccess->WriteString(key.toStdString(), value.toStdString());
  } catch (...) {
    RegAccess->CloseKey();
    throw;
  }
  RegAccess->CloseKey();
}

void SettingsStore::WriteInteger(const QString& section, const QString& key, std::int32_t value) {
  requireOpen();
  if (OpenedAsINI) {
    IniAccess->WriteString(section, key, QString::number(value));
    return;
  }
  RegAccess->OpenKey(regKeyPath(section), FCanCreate);
  try {
    RegAccess->WriteInteger(key.toStdString(), value);
  } catch (...) {
    RegAccess->CloseKey();
    throw;
  }
  RegAccess->CloseKey();
}

void SettingsStore::WriteBool(const QString& section, const QString& key, bool value) {
  if (isOpen() && OpenedAsINI)
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
  else
    WriteInteger(section, key, value ? 1 : 0);
}

QString SettingsStore::ReadString(const QString& section, const QString& key, const QString& def) {
  requireOpen();
  if (OpenedAsINI) return IniAccess->ReadString(section, key, def);
  QString result = def;
  try {
    if (RegAccess->OpenKey(regKeyPath(section), FCanCreate)) {
      const QString value = QString::fromStdString(RegAccess->ReadString(key.toStdString()));
      // An empty string counts as not found.
      if (!value.isEmpty()) result = value;
    }
  } catch (const std::exception&) {
  }
  RegAccess->CloseKey();
  return result;
}

std::int32_t SettingsStore::ReadInteger(const QString& section, const QString& key, std::int32_t def) {
  requireOpen();
  if (OpenedAsINI) {
    QString text = IniAccess->ReadString(section, key, QString());
    if (text.size() > 2 && text[0] == QLatin1Char('0') && (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X')))
      text = QLatin1Char('$') + text.mid(2);
    return framework::StrToIntDef(text, def);
  }
  std::int32_t result = def;
  try {
    if (RegAccess->OpenKey(regKeyPath(section), FCanCreate)) result = RegAccess->ReadInteger(key.toStdString());
  } catch (const std::exception&) {
    result = def;
  }
  RegAccess->CloseKey();
  return result;
}

bool SettingsStore::ReadBool(const QString& section, const QString& key, bool def) {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

}  // namespace components
