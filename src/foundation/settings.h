#pragma once
// The user's settings file, User.ini, held in memory for the whole run and saved after every
// change. Every setting has a typed reader with its default and limits; other code reads and
// writes settings only through the keys named here.
//
// User.ini goes through the program's own INI class: sections and keys compare without regard
// to case and values are kept verbatim (a Windows-written file stays readable).
#include "foundation/types.h"
#include "foundation/ini_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace px {

inline constexpr std::string_view kUserSection = "User";
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kExternalAccountsSection = "External Accounts";

// A colour as stored: decimal 0x00BBGGRR (255 is red).
using ColorRef = uint32_t;
// Highlight colour of unread rows when none is saved (red).
inline constexpr ColorRef kDefaultHighlightColor = 0x000000FF;
// "Use the default colour" (the Quickboard's own background).
inline constexpr ColorRef kDefaultColor = 0x1FFFFFFF;

// A font as stored: name + "," + colour + "," + size + "," + style letters ("b", "i", "u" in
// that order). Plain data: widget code converts it to a QFont.
struct FontValue {
  std::string name = "Sans Serif";
  ColorRef color = 0;  // black
  int size = 9;        // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool operator==(const FontValue&) const = default;
};

// Applies every part of `text` that is present and valid to `font`; missing or broken parts
// leave the attribute unchanged.
void ApplyFontValue(std::string_view text, FontValue& font);
std::string FormatFontValue(const FontValue& font);

class Settings {
public:
  // Without a file: every setting reads as its default and writes are kept in memory.
  Settings();
  // Loads the file at `path` (a missing file reads as empty).
  explicit Settings(const std::string& path);
  ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // (Re)opens `path`; the previous file is dropped without saving.
  void Open(const std::string& path);
  std::string FileName() const;
  // The INI object itself, for readers of sections not covered below (External Accounts).
  TPXIniBase& Ini() { return *ini_; }
  const TPXIniBase& Ini() const { return *ini_; }
  // Saves now when modified; the status of the last failed save is kept in LastError().
  FileStatus UpdateFile();
  const FileStatus& LastError() const { return lastError_; }
  // Told when saving starts to fail (once, until a save succeeds again), so the user hears of
  // settings that will not survive the run; the desk queues the status message.
  void SetSaveFailureHandler(std::function<void(const FileStatus&)> fn) {
    onSaveFailure_ = std::move(fn);
  }

  // Generic access. Writers save at once.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def = {}) const;
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t def) const;
  // Integer clamped to lo..hi (an unreadable value gives def).
  int64_t ReadClamped(std::string_view section, std::string_view key, int64_t def, int64_t lo, int64_t hi) const;
  // "1" / other flags.
  bool ReadFlag(std::string_view section, std::string_view key) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteFlag(std::string_view section, std::string_view key, bool value);  // "1" / "0"
  void DeleteKey(std::string_view section, std::string_view key);

  // --- Section User ---
  std::string ID() const;                       // service user name; empty = not set up
  void SetID(std::string_view v);
  std::string Name() const;
  void SetName(std::string_view v);
  std::string Password() const;                 // scrambled form as stored
  void SetPassword(std::string_view scrambled); // empty deletes the key
  bool UseAlternativeFromAddress() const;
  void SetUseAlternativeFromAddress(bool v);
  std::string AlternativeFromAddress() const;
  void SetAlternativeFromAddress(std::string_view v);
  std::string AlternativeFromAddresses() const; // comma list
  void SetAlternativeFromAddresses(std::string_view v);
  int MessageFormat() const;                    // 0 rich text (HTML), 1 plain text
  void SetMessageFormat(int v);
  // Charset of new messages; the local charset ("utf-8") when none is saved.
  std::string DefaultCharset() const;
  void SetDefaultCharset(std::string_view v);
  bool UseSignature() const;
  void SetUseSignature(bool v);
  std::string Signature() const;                // stored (encoded) form
  void SetSignature(std::string_view encoded);
  bool NoTags() const;
  void SetNoTags(bool v);
  bool CheckPGP() const;                        // present and 1
  void ClearCheckPGP();
  bool AutoCheckMail() const;
  void SetAutoCheckMail(bool v);
  int MailCheckInterval() const;                // minutes, 15 by default, at least 1
  void SetMailCheckInterval(int minutes);
  bool UseLocalServer() const;
  void SetUseLocalServer(bool v);
  std::string LocalServer() const;
  void SetLocalServer(std::string_view v);
  bool KeepOnServer() const;
  void SetKeepOnServer(bool v);
  bool NewInstall() const;                      // "1"
  void ClearNewInstall();
  int64_t NextVersionCheck() const;             // 0 when absent
  void SetNextVersionCheck(int64_t v);

  // --- Section Settings ---
  int TreeWidth() const;                        // per mille, 100..500, default 200
  void SetTreeWidth(int perMille);              // clamped
  int FileAddressWidth() const;                 // per mille, 100..500, default 200
  void SetFileAddressWidth(int perMille);       // at least 100
  int ContactAddressWidth() const;              // per mille, 100..500, default 200
  void SetContactAddressWidth(int perMille);
  int ContactPhoneWidth() const;                // per mille, 100..500, default 250
  void SetContactPhoneWidth(int perMille);
  // Compose window size saved for screen width n: -1 when absent; limited to the screen.
  int EWidth(int screenWidth, int screenHeight) const;
  int EHeight(int screenWidth, int screenHeight) const;
  void SetESize(int screenWidth, int width, int height);
  // Fonts: `base` is the standard UI font; saved parts override it.
  FontValue FolderFont(const FontValue& base) const;
  FontValue FileFont(const FontValue& base) const;
  FontValue TextEditorFont(const FontValue& base) const;
  FontValue HtmlEditorFont(const FontValue& base) const;
  void SetFolderFont(const FontValue& f);
  void SetFileFont(const FontValue& f);
  void SetTextEditorFont(const FontValue& f);
  void SetHtmlEditorFont(const FontValue& f);
  bool HighlightFontBold() const;               // default 1
  void SetHighlightFontBold(bool v);
  bool UseHighlightFontColor() const;           // default 0
  void SetUseHighlightFontColor(bool v);
  ColorRef HighlightFontColor() const;
  void SetHighlightFontColor(ColorRef c);
  int Sorting() const;                          // -7..7 and not 0, else -1
  void SetSorting(int v);
  int AddressSorting() const;                   // 2, -2, 4 or -4, else 4
  void SetAddressSorting(int v);
  int NameOrder() const;                        // 2 = last name first, else 1
  bool FirstNameFirst() const { return NameOrder() != 2; }
  void SetNameOrder(int v);
  bool ShowSize() const;
  void SetShowSize(bool v);
  bool ShowPreview() const;                     // default 1
  void SetShowPreview(bool v);
  bool UseDashboardColor() const;
  void SetUseDashboardColor(bool v);
  ColorRef DashboardColor() const;              // kDefaultColor when absent
  void SetDashboardColor(ColorRef c);
  bool UseSliding() const;                      // default 1
  void SetUseSliding(bool v);
  int LastColour() const;                       // 0..9 (9: take the clicked row's colour), else 0
  void SetLastColour(int v);
  int CopyMove() const;                         // default 0
  void SetCopyMove(int v);
  std::string Skin() const;                     // file name; empty = the default skin
  void SetSkin(std::string_view v);
  std::string ToolBar() const;
  void SetToolBar(std::string_view v);
  std::string CustomColors() const;
  void SetCustomColors(std::string_view v);

private:
  void AfterWrite();
  std::unique_ptr<TPXIniBase> ini_;
  bool inMemory_ = false;
  FileStatus lastError_;
  bool failing_ = false;
  std::function<void(const FileStatus&)> onSaveFailure_;
};

// The From address of the user's mail: the alternative address when chosen and set, else
// "Name" <ID> (or the bare ID without a name).
std::string OwnFromAddress(const Settings& s);

}  // namespace px
