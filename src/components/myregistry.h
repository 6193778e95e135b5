#pragma once
// The settings store component: named values in an INI file or under a
// registry key, chosen by SaveToINI.
#include <QObject>
#include <QString>
#include <cstdint>

enum HKeys { kHKEY_CLASSES_ROOT, kHKEY_CURRENT_USER, kHKEY_LOCAL_MACHINE, kHKEY_USERS, kHKEY_CURRENT_CONFIG, kHKEY_DYN_DATA };

class TMyRegistry : public QObject {
  Q_OBJECT
 public:
  explicit TMyRegistry(QObject* owner);

  bool SaveToINI = false;
  QString INIFile;
  QString RegPath;
  HKeys RootKey = kHKEY_LOCAL_MACHINE;
  bool CanCreate = false;

  void OpenStore();
  void CloseStore();
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, std::int32_t value);
  void WriteBool(const QString& section, const QString& key, bool value);
  QString ReadString(const QString& section, const QString& key, const QString& def);
  std::int32_t ReadInteger(const QString& section, const QString& key, std::int32_t def);
  bool ReadBool(const QString& section, const QString& key, bool def);
};
