#pragma once
// Being the system's mail program while the desk runs: the handler of "mailto" links is
// taken at the end of start-up and given back at exit.
//
// On a freedesktop system the handler is the `x-scheme-handler/mailto` entry of the
// `[Default Applications]` group in the user's mimeapps.list. xdg-mime is used when it is
// there (it knows the desktop's own ways); otherwise the file is edited directly. Under
// PLUMADEX_HOME=DIR the file is DIR/config/mimeapps.list and xdg-mime is not used, so that
// tests and side-by-side data roots never change the real home.
#include <optional>
#include <string>
#include <vector>

namespace px::platform {

inline constexpr const char* kMailtoType = "x-scheme-handler/mailto";
inline constexpr const char* kDesktopId = "org.plumadex.Plumadex.desktop";

struct MailClientEnv {
  // mimeapps.list the claim writes (the user's own, in the config folder).
  std::string userMimeApps;
  // Further mimeapps.list files that are only read, in order of precedence.
  std::vector<std::string> systemMimeApps;
  // Folders searched for "<desktop id>" (the XDG data folders' applications/).
  std::vector<std::string> applicationFolders;
  // xdg-mime, or empty to edit mimeapps.list directly.
  std::string xdgMime;
  std::string desktopId = kDesktopId;

  // The environment of this process (XDG variables, PLUMADEX_HOME, PATH).
  static MailClientEnv FromSystem();
};

// The value of the mailto entry in one mimeapps.list text ("" when there is none).
std::string MimeAppsDefault(const std::string& text, const std::string& type);
// The text with the entry set to value, or removed when value is empty; every other line kept.
std::string MimeAppsWithDefault(const std::string& text, const std::string& type, const std::string& value);

class DefaultMailClient {
public:
  explicit DefaultMailClient(MailClientEnv env) : env_(std::move(env)) {}

  // Takes over the mailto handler unless this program already has it or is not installed
  // (no desktop entry to hand links to). Failures are swallowed: the program then simply is
  // not the mail program.
  void ClaimMailClient();
  // Gives the handler back to the one remembered by the claim, unless the user chose another
  // one meanwhile. Does nothing when the claim wrote nothing.
  void ReleaseMailClient();

  // The current handler's desktop id (first of a ";" list), "" when none.
  std::string CurrentHandler() const;
  bool Claimed() const { return claimed_; }

private:
  std::string RawUserValue() const;
  bool SetUserValue(const std::string& value);
  bool installed() const;

  MailClientEnv env_;
  bool claimed_ = false;
  std::string previousUserValue_;  // exactly as it stood in the user's file
  std::string previousHandler_;    // the handler in force before the claim
};

}  // namespace px::platform
