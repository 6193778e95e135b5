#pragma once
// The settings store component: named values in an INI file or under a
// registry key, chosen by SaveToINI. Open the store, read and write values
// addressed by section and key, close it again.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "platform/registry/registry.h"

namespace components {

// One byte, as the component stores it; a value outside the list stands
// for HKEY_LOCAL_MACHINE.
enum HKeys : std::uint8_t { kHKEY_CLASSES_ROOT, kHKEY_CURRENT_USER, kHKEY_LOCAL_MACHINE, kHKEY_USERS, kHKEY_CURRENT_CONFIG, kHKEY_DYN_DATA };

class IniFileStore;

// Why a settings file of that name cannot be kept, as a message for the
// user: a bare name needs the settings folder, and without a usable HOME
// (and no XDG_CONFIG_HOME) there is none. Empty when nothing stands in the way.
QString SettingsFolderProblem(const QString& iniFile);

class SettingsStore : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool SaveToINI READ SaveToINI WRITE setSaveToINI)
  Q_PROPERTY(QString INIFile READ INIFile WRITE setINIFile)
  Q_PROPERTY(QString RegPath READ RegPath WRITE setRegPath)
  Q_PROPERTY(int RootKey READ rootKeyOrdinal WRITE setRootKeyOrdinal)
  Q_PROPERTY(bool CanCreate READ CanCreate WRITE setCanCreate)
  Q_PROPERTY(QString Version READ Version WRITE setVersion)
  Q_PROPERTY(QString eMail READ eMail WRITE seteMail)

 public:
  explicit SettingsStore(QObject* owner);
  ~SettingsStore() override;

  bool SaveToINI() const { return FSaveToINI; }
  void setSaveToINI(bool on) { FSaveToINI = on; }
  QString INIFile() const { return FINIFile; }
  void setINIFile(const QString& name) { FINIFile = name; }
  QString RegPath() const { return FRegPath; }
  void setRegPath(const QString& path) { FRegPath = path; }
  HKeys RootKey() const { return FRootKey; }
  void setRootKey(HKeys key) { FRootKey = key; }
  bool CanCreate() const { return FCanCreate; }
  void setCanCreate(bool on) { FCanCreate = on; }
  // Read-only in effect: the component's own identity.
  QString Version() const { return FVersion; }
  void setVersion(const QString&) {}
  QString eMail() const { return FeMail; }
  void seteMail(const QString&) {}

  // The predefined registry key RootKey stands for.
  registry::HKEY RootKeyHandle() const;

  // Raises framework::EInOutError "INI file does not exist !!" or "You must
  // insert a registry string !!" when the name or path is blank, and, the
  // first time only, SettingsFolderProblem() when there is no settings folder.
  void OpenStore();
  // Frees the accessor chosen at the last OpenStore; never raises.
  void CloseStore();
  // Whether a store is open (an accessor exists).
  bool isOpen() const;

  // INI mode raises framework::Exception "Unable to write to <file>" when the
  // file cannot be written (SettingsFolderProblem() when there is no folder); registry mode the registry's error.
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, std::int32_t value);
  void WriteBool(const QString& section, const QString& key, bool value);
  // Reads never raise for a missing file, key or value: the default comes back.
  QString ReadString(const QString& section, const QString& key, const QString& def);
  std::int32_t ReadInteger(const QString& section, const QString& key, std::int32_t def);
  bool ReadBool(const QString& section, const QString& key, bool def);

 private:
  int rootKeyOrdinal() const { return FRootKey; }
  void setRootKeyOrdinal(int k) { FRootKey = static_cast<HKeys>(static_cast<std::uint8_t>(k)); }
  void requireOpen() const;
  std::string regKeyPath(const QString& section) const;

  std::unique_ptr<IniFileStore> IniAccess;
  std::unique_ptr<registry::Registry> RegAccess;
  bool FCanCreate = false;
  bool toldNoSettingsFolder_ = false;
  bool OpenedAsINI = false;
  bool FSaveToINI = false;
  QString FeMail;
  QString FVersion;
  QString FINIFile;
  QString FRegPath;
  HKeys FRootKey = kHKEY_LOCAL_MACHINE;
};

}  // namespace components
