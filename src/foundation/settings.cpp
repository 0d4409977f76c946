#include "foundation/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <vector>

namespace px {

namespace {

constexpr std::string_view kU = kUserSection;
constexpr std::string_view kS = kSettingsSection;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseInt(std::string_view s, int64_t& out) {
  s = Trim(s);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

std::vector<std::string_view> SplitComma(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t c = s.find(',', start);
    if (c == std::string_view::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, c - start));
    start = c + 1;
  }
}

}  // namespace

void ApplyFontValue(std::string_view text, FontValue& font) {
  if (Trim(text).empty()) return;
  const auto parts = SplitComma(text);
  const std::string_view name = Trim(parts[0]);
  if (!name.empty()) font.name = std::string(name);
  int64_t n = 0;
  if (parts.size() > 1 && ParseInt(parts[1], n) && n >= 0 && n <= 0xFFFFFFFFLL)
    font.color = static_cast<ColorRef>(n);
  if (parts.size() > 2 && ParseInt(parts[2], n) && n > 0 && n <= 400) font.size = static_cast<int>(n);
  if (parts.size() > 3) {
    const std::string_view style = Trim(parts[3]);
    bool valid = true;
    for (char c : style)
      if (c != 'b' && c != 'i' && c != 'u' && c != 'B' && c != 'I' && c != 'U') valid = false;
    if (valid) {
      auto has = [&](char c) {
        return style.find(c) != std::string_view::npos ||
               style.find(static_cast<char>(c - 'a' + 'A')) != std::string_view::npos;
      };
      font.bold = has('b');
      font.italic = has('i');
      font.underline = has('u');
    }
  }
}

std::string FormatFontValue(const FontValue& font) {
  std::string s = font.name + "," + std::to_string(font.color) + "," + std::to_string(font.size) + ",";
  if (font.bold) s += 'b';
  if (font.italic) s += 'i';
  if (font.underline) s += 'u';
  return s;
}

Settings::Settings() : ini_(std::make_unique<TPXIniBase>(std::string())), inMemory_(true) {}

Settings::Settings(const std::string& path) { Open(path); }

Settings::~Settings() = default;

void Settings::Open(const std::string& path) {
  ini_ = std::make_unique<TPXIniBase>(path);
  inMemory_ = path.empty();
  lastError_ = {};
  failing_ = false;
}

std::string Settings::FileName() const { return ini_->FileName(); }

FileStatus Settings::UpdateFile() {
  if (inMemory_) return FileStatus::Ok();
  // The file holds scrambled passwords: when a save creates it, it is created private (the
  // atomic save keeps the mode of the file it replaces).
  if (ini_->Modified()) {
    const std::string path = ini_->FileName();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
  }
  FileStatus st = ini_->UpdateFile();
  if (st.ok()) {
    failing_ = false;
    return st;
  }
  lastError_ = st;
  if (!failing_) {
    failing_ = true;
    if (onSaveFailure_) onSaveFailure_(st);
  }
  return st;
}

void Settings::AfterWrite() { UpdateFile(); }

std::string Settings::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  return ini_->ReadString(section, key, def);
}

int64_t Settings::ReadInteger(std::string_view section, std::string_view key, int64_t def) const {
  int64_t v = 0;
  const std::string s = ini_->ReadString(section, key, {});
  return ParseInt(s, v) ? v : def;
}

int64_t Settings::ReadClamped(std::string_view section, std::string_view key, int64_t def, int64_t lo,
                              int64_t hi) const {
  return std::clamp(ReadInteger(section, key, def), lo, hi);
}

bool Settings::ReadFlag(std::string_view section, std::string_view key) const {
  return ini_->ReadString(section, key, {}) == "1";
}

bool Settings::ValueExists(std::string_view section, std::string_view key) const {
  return ini_->ValueExists(section, key);
}

void Settings::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  ini_->WriteString(section, key, value);
  AfterWrite();
}

void Settings::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void Settings::WriteFlag(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void Settings::DeleteKey(std::string_view section, std::string_view key) {
  if (!ini_->ValueExists(section, key)) return;
  ini_->DeleteKey(section, key);
  AfterWrite();
}

// --- User ---
std::string Settings::ID() const { return ReadString(kU, "ID"); }
void Settings::SetID(std::string_view v) { WriteString(kU, "ID", v); }
std::string Settings::Name() const { return ReadString(kU, "Name"); }
void Settings::SetName(std::string_view v) { WriteString(kU, "Name", v); }
std::string Settings::Password() const { return ReadString(kU, "Password"); }
void Settings::SetPassword(std::string_view s) {
  if (s.empty()) DeleteKey(kU, "Password");
  else WriteString(kU, "Password", s);
}
bool Settings::UseAlternativeFromAddress() const { return ReadFlag(kU, "Use Alternative From Address"); }
void Settings::SetUseAlternativeFromAddress(bool v) { WriteFlag(kU, "Use Alternative From Address", v); }
std::string Settings::AlternativeFromAddress() const { return ReadString(kU, "Alternative From Address"); }
void Settings::SetAlternativeFromAddress(std::string_view v) { WriteString(kU, "Alternative From Address", v); }
std::string Settings::AlternativeFromAddresses() const { return ReadString(kU, "Alternative From Addresses"); }
void Settings::SetAlternativeFromAddresses(std::string_view v) { WriteString(kU, "Alternative From Addresses", v); }
int Settings::MessageFormat() const { return static_cast<int>(ReadClamped(kU, "Message Format", 0, 0, 1)); }
void Settings::SetMessageFormat(int v) { WriteInteger(kU, "Message Format", v); }
std::string Settings::DefaultCharset() const {
  const std::string v = ReadString(kU, "Default Charset");
  return Trim(v).empty() ? std::string("utf-8") : v;
}
void Settings::SetDefaultCharset(std::string_view v) { WriteString(kU, "Default Charset", v); }
bool Settings::UseSignature() const { return ReadInteger(kU, "Use Signature", 0) != 0; }
void Settings::SetUseSignature(bool v) { WriteInteger(kU, "Use Signature", v ? 1 : 0); }
std::string Settings::Signature() const { return ReadString(kU, "Signature"); }
void Settings::SetSignature(std::string_view v) { WriteString(kU, "Signature", v); }
bool Settings::NoTags() const { return ReadInteger(kU, "No Tags", 0) == 1; }
void Settings::SetNoTags(bool v) { WriteInteger(kU, "No Tags", v ? 1 : 0); }
bool Settings::CheckPGP() const { return ReadInteger(kU, "Check PGP", 0) == 1; }
void Settings::ClearCheckPGP() { DeleteKey(kU, "Check PGP"); }
bool Settings::AutoCheckMail() const { return ReadFlag(kU, "Auto Check Mail"); }
void Settings::SetAutoCheckMail(bool v) { WriteFlag(kU, "Auto Check Mail", v); }
int Settings::MailCheckInterval() const {
  // A zero or negative interval would make the timer fire continuously.
  const int64_t v = ReadInteger(kU, "Mail Check Interval", 15);
  return v < 1 ? 15 : static_cast<int>(std::min<int64_t>(v, 24 * 60 * 7));
}
void Settings::SetMailCheckInterval(int minutes) { WriteInteger(kU, "Mail Check Interval", minutes); }
bool Settings::UseLocalServer() const { return ReadFlag(kU, "Use Local Server"); }
void Settings::SetUseLocalServer(bool v) { WriteFlag(kU, "Use Local Server", v); }
std::string Settings::LocalServer() const { return ReadString(kU, "Local Server"); }
void Settings::SetLocalServer(std::string_view v) { WriteString(kU, "Local Server", v); }
bool Settings::KeepOnServer() const { return ReadFlag(kU, "Keep On Server"); }
void Settings::SetKeepOnServer(bool v) { WriteFlag(kU, "Keep On Server", v); }
bool Settings::NewInstall() const { return ReadFlag(kU, "New Install"); }
void Settings::ClearNewInstall() { DeleteKey(kU, "New Install"); }
int64_t Settings::NextVersionCheck() const { return ReadInteger(kU, "NextVersionCheck", 0); }
void Settings::SetNextVersionCheck(int64_t v) { WriteInteger(kU, "NextVersionCheck", v); }

// --- Settings ---
int Settings::TreeWidth() const { return static_cast<int>(ReadClamped(kS, "TreeWidth", 200, 100, 500)); }
void Settings::SetTreeWidth(int v) { WriteInteger(kS, "TreeWidth", std::clamp(v, 100, 500)); }
int Settings::FileAddressWidth() const { return static_cast<int>(ReadClamped(kS, "FileAddressWidth", 200, 100, 500)); }
void Settings::SetFileAddressWidth(int v) { WriteInteger(kS, "FileAddressWidth", std::max(v, 100)); }
int Settings::ContactAddressWidth() const {
  return static_cast<int>(ReadClamped(kS, "ContactAddressWidth", 200, 100, 500));
}
void Settings::SetContactAddressWidth(int v) { WriteInteger(kS, "ContactAddressWidth", std::max(v, 100)); }
int Settings::ContactPhoneWidth() const { return static_cast<int>(ReadClamped(kS, "ContactPhoneWidth", 250, 100, 500)); }
void Settings::SetContactPhoneWidth(int v) { WriteInteger(kS, "ContactPhoneWidth", std::max(v, 100)); }

int Settings::EWidth(int screenWidth, int screenHeight) const {
  const int64_t v = ReadInteger(kS, "EWidth" + std::to_string(screenWidth), -1);
  return v <= 0 ? -1 : static_cast<int>(std::min<int64_t>(v, screenWidth));
}
int Settings::EHeight(int screenWidth, int screenHeight) const {
  const int64_t v = ReadInteger(kS, "EHeight" + std::to_string(screenWidth), -1);
  return v <= 0 ? -1 : static_cast<int>(std::min<int64_t>(v, screenHeight));
}
void Settings::SetESize(int screenWidth, int width, int height) {
  ini_->WriteString(kS, "EWidth" + std::to_string(screenWidth), std::to_string(width));
  WriteInteger(kS, "EHeight" + std::to_string(screenWidth), height);
}

namespace {
FontValue ReadFont(const Settings& s, std::string_view key, const FontValue& base) {
  FontValue f = base;
  ApplyFontValue(s.ReadString(kS, key), f);
  return f;
}
}  // namespace
FontValue Settings::FolderFont(const FontValue& b) const { return ReadFont(*this, "Folder Font", b); }
FontValue Settings::FileFont(const FontValue& b) const { return ReadFont(*this, "File Font", b); }
FontValue Settings::TextEditorFont(const FontValue& b) const { return ReadFont(*this, "Text Editor Font", b); }
FontValue Settings::HtmlEditorFont(const FontValue& b) const { return ReadFont(*this, "HTML Editor Font", b); }
void Settings::SetFolderFont(const FontValue& f) { WriteString(kS, "Folder Font", FormatFontValue(f)); }
void Settings::SetFileFont(const FontValue& f) { WriteString(kS, "File Font", FormatFontValue(f)); }
void Settings::SetTextEditorFont(const FontValue& f) { WriteString(kS, "Text Editor Font", FormatFontValue(f)); }
void Settings::SetHtmlEditorFont(const FontValue& f) { WriteString(kS, "HTML Editor Font", FormatFontValue(f)); }

bool Settings::HighlightFontBold() const { return ReadInteger(kS, "Highlight Font Bold", 1) != 0; }
void Settings::SetHighlightFontBold(bool v) { WriteInteger(kS, "Highlight Font Bold", v ? 1 : 0); }
bool Settings::UseHighlightFontColor() const { return ReadInteger(kS, "Use Highlight Font Color", 0) != 0; }
void Settings::SetUseHighlightFontColor(bool v) { WriteInteger(kS, "Use Highlight Font Color", v ? 1 : 0); }
ColorRef Settings::HighlightFontColor() const {
  const int64_t v = ReadInteger(kS, "Highlight Font Color", kDefaultHighlightColor);
  return v < 0 || v > 0xFFFFFF ? kDefaultHighlightColor : static_cast<ColorRef>(v);
}
void Settings::SetHighlightFontColor(ColorRef c) { WriteInteger(kS, "Highlight Font Color", c); }
int Settings::Sorting() const {
  const int64_t v = ReadInteger(kS, "Sorting", -1);
  return v == 0 || v < -7 || v > 7 ? -1 : static_cast<int>(v);
}
void Settings::SetSorting(int v) { WriteInteger(kS, "Sorting", v); }
int Settings::AddressSorting() const {
  const int64_t v = ReadInteger(kS, "Address Sorting", 4);
  return v == 2 || v == -2 || v == 4 || v == -4 ? static_cast<int>(v) : 4;
}
void Settings::SetAddressSorting(int v) { WriteInteger(kS, "Address Sorting", v); }
int Settings::NameOrder() const { return ReadInteger(kS, "NameOrder", 1) == 2 ? 2 : 1; }
void Settings::SetNameOrder(int v) { WriteInteger(kS, "NameOrder", v == 2 ? 2 : 1); }
bool Settings::ShowSize() const { return ReadInteger(kS, "Show Size", 0) == 1; }
void Settings::SetShowSize(bool v) { WriteInteger(kS, "Show Size", v ? 1 : 0); }
bool Settings::ShowPreview() const { return ReadInteger(kS, "Show Preview", 1) == 1; }
void Settings::SetShowPreview(bool v) { WriteInteger(kS, "Show Preview", v ? 1 : 0); }
bool Settings::UseDashboardColor() const { return ReadInteger(kS, "Use Dashboard Color", 0) == 1; }
void Settings::SetUseDashboardColor(bool v) { WriteInteger(kS, "Use Dashboard Color", v ? 1 : 0); }
ColorRef Settings::DashboardColor() const {
  const int64_t v = ReadInteger(kS, "Dashboard Color", kDefaultColor);
  return v < 0 || v > 0xFFFFFF ? kDefaultColor : static_cast<ColorRef>(v);
}
void Settings::SetDashboardColor(ColorRef c) { WriteInteger(kS, "Dashboard Color", c); }
bool Settings::UseSliding() const { return ReadInteger(kS, "Use Sliding", 1) == 1; }
void Settings::SetUseSliding(bool v) { WriteInteger(kS, "Use Sliding", v ? 1 : 0); }
int Settings::LastColour() const {
  const int64_t v = ReadInteger(kS, "Last Colour", 0);
  return v < 0 || v > 9 ? 0 : static_cast<int>(v);
}
void Settings::SetLastColour(int v) { WriteInteger(kS, "Last Colour", v); }
int Settings::CopyMove() const { return static_cast<int>(ReadInteger(kS, "CopyMove", 0)); }
void Settings::SetCopyMove(int v) { WriteInteger(kS, "CopyMove", v); }
std::string Settings::Skin() const { return ReadString(kS, "Skin"); }
void Settings::SetSkin(std::string_view v) { WriteString(kS, "Skin", v); }
std::string Settings::ToolBar() const { return ReadString(kS, "ToolBar"); }
void Settings::SetToolBar(std::string_view v) { WriteString(kS, "ToolBar", v); }
std::string Settings::CustomColors() const { return ReadString(kS, "Custom Colors"); }
void Settings::SetCustomColors(std::string_view v) { WriteString(kS, "Custom Colors", v); }

std::string OwnFromAddress(const Settings& s) {
  if (s.UseAlternativeFromAddress()) {
    std::string alt = s.AlternativeFromAddress();
    if (!Trim(alt).empty()) return alt;
  }
  const std::string id = s.ID();
  const std::string name = s.Name();
  if (!name.empty()) return "\"" + name + "\" <" + id + ">";
  return id;
}

}  // namespace px
