#include "components/myregistry.h"

// Placeholder bodies until the settings store lands.
TMyRegistry::TMyRegistry(QObject* owner) : QObject(owner) {}
void TMyRegistry::OpenStore() {}
void TMyRegistry::CloseStore() {}
void TMyRegistry::WriteString(const QString&, const QString&, const QString&) {}
void TMyRegistry::WriteInteger(const QString&, const QString&, std::int32_t) {}
void TMyRegistry::WriteBool(const QString&, const QString&, bool) {}
QString TMyRegistry::ReadString(const QString&, const QString&, const QString& def) { return def; }
std::int32_t TMyRegistry::ReadInteger(const QString&, const QString&, std::int32_t def) { return def; }
bool TMyRegistry::ReadBool(const QString&, const QString&, bool def) { return def; }
