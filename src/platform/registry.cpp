#include "platform/registry.h"

#include "foundation/text_case.h"
#include "foundation/ini_file.h"

#include <QDir>
#include <QStandardPaths>

namespace px::platform {

IniRegistryStore::IniRegistryStore(const std::string& path) : ini_(std::make_unique<TPXIniBase>(path)) {}
IniRegistryStore::~IniRegistryStore() = default;

std::string IniRegistryStore::FileName() const { return ini_->FileName(); }

bool IniRegistryStore::save() {
  const std::string file = ini_->FileName();
  const auto slash = file.rfind('/');
  if (slash != std::string::npos) QDir().mkpath(QString::fromStdString(file.substr(0, slash)));
  return ini_->UpdateFile().ok();
}

std::optional<std::string> IniRegistryStore::ReadString(std::string_view key, std::string_view name) const {
  if (!ini_->ValueExists(key, name)) return std::nullopt;
  return ini_->ReadString(key, name, {});
}

bool IniRegistryStore::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  ini_->WriteString(key, name, value);
  return save();
}

bool IniRegistryStore::DeleteValue(std::string_view key, std::string_view name) {
  if (!ini_->ValueExists(key, name)) return true;
  ini_->DeleteKey(key, name);
  return save();
}

bool IniRegistryStore::DeleteKey(std::string_view key) {
  ini_->EraseSection(key);
  return save();
}

bool IniRegistryStore::KeyExists(std::string_view key) const { return ini_->SectionExists(key); }

std::optional<std::string> MemoryRegistry::ReadString(std::string_view key, std::string_view name) const {
  auto k = keys_.find(FoldCase(key));
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.find(FoldCase(name));
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool MemoryRegistry::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  keys_[FoldCase(key)][FoldCase(name)] = std::string(value);
  return true;
}

bool MemoryRegistry::DeleteValue(std::string_view key, std::string_view name) {
  auto k = keys_.find(FoldCase(key));
  if (k != keys_.end()) k->second.erase(FoldCase(name));
  return true;
}

bool MemoryRegistry::DeleteKey(std::string_view key) {
  keys_.erase(FoldCase(key));
  return true;
}

bool MemoryRegistry::KeyExists(std::string_view key) const { return keys_.count(FoldCase(key)) != 0; }

std::string RegistryFilePath() {
  const QByteArray home = qgetenv("PLUMADEX_HOME");
  QString base;
  if (!home.isEmpty()) {
    base = QDir::cleanPath(QString::fromLocal8Bit(home)) + "/config";
  } else {
    base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + "/.config";
  }
  return (base + "/Kavenstow/Plumadex.ini").toStdString();
}

std::string UpdateProgramVersion(Registry& reg) {
  std::string previous = reg.ReadString(kProgramKey, kVersionValue).value_or(std::string());
  if (previous.empty()) previous = std::string(kProgramVersion);
  reg.WriteString(kProgramKey, kVersionValue, kProgramVersion);
  return previous;
}

}  // namespace px::platform
