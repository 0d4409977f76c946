#pragma once
// Registry values of the current user, kept in an INI file: one section per key path
// ("Software\Kavenstow\Plumadex"), one line per value. Key paths and value names compare
// without regard to case, as the Windows registry does.
//
// The file is $XDG_CONFIG_HOME/Kavenstow/Plumadex.ini, or DIR/config/Kavenstow/Plumadex.ini
// when PLUMADEX_HOME=DIR.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace px {
class TPXIniBase;
}

namespace px::platform {

inline constexpr std::string_view kProgramKey = "Software\\Kavenstow\\Plumadex";
inline constexpr std::string_view kVersionValue = "Version";
inline constexpr std::string_view kCheckVersionValue = "Check Version";
// The version this program writes to `Version`.
inline constexpr std::string_view kProgramVersion = "3.01";

class Registry {
public:
  virtual ~Registry() = default;
  // nullopt when the value does not exist.
  virtual std::optional<std::string> ReadString(std::string_view key, std::string_view name) const = 0;
  // Creates the key when needed; false when it could not be saved.
  virtual bool WriteString(std::string_view key, std::string_view name, std::string_view value) = 0;
  virtual bool DeleteValue(std::string_view key, std::string_view name) = 0;
  virtual bool DeleteKey(std::string_view key) = 0;
  virtual bool KeyExists(std::string_view key) const = 0;
  bool ValueExists(std::string_view key, std::string_view name) const { return ReadString(key, name).has_value(); }
};

// The INI-backed registry; every change is saved at once (atomically).
class IniRegistryStore final : public Registry {
public:
  explicit IniRegistryStore(const std::string& path);
  ~IniRegistryStore() override;
  std::string FileName() const;
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const override;
  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override;
  bool DeleteValue(std::string_view key, std::string_view name) override;
  bool DeleteKey(std::string_view key) override;
  bool KeyExists(std::string_view key) const override;

private:
  bool save();
  std::unique_ptr<TPXIniBase> ini_;
};

// In-memory registry for tests.
class MemoryRegistry final : public Registry {
public:
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const override;
  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override;
  bool DeleteValue(std::string_view key, std::string_view name) override;
  bool DeleteKey(std::string_view key) override;
  bool KeyExists(std::string_view key) const override;

private:
  std::map<std::string, std::map<std::string, std::string>> keys_;  // folded key -> folded name -> value
};

// Path of the registry file for this user (see above); creates nothing.
std::string RegistryFilePath();

// Start-up: remembers the previous `Version` (empty or missing reads as "3.01") and writes
// the current one. Returns the previous version.
std::string UpdateProgramVersion(Registry& reg);

}  // namespace px::platform
