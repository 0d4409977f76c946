#pragma once
// The option pages of the tools tree as models: what each page shows, read from User.ini, and
// how it is saved. A page remembers the values it showed; saving writes only what the user
// changed, so a setting another part of the program changed meanwhile is not put back.
#include "foundation/settings.h"

#include <optional>
#include <string>
#include <vector>

namespace px::desk {

// The pages, in the order of the tools grid.
enum class OptionPage { Personal, Appearance, PXMail, ExtMail, BlackList, Encryption, Import, Wizard };

inline constexpr int kOptionPageCount = 8;
const std::string& OptionPageCaption(OptionPage p);
std::optional<OptionPage> OptionPageOf(std::string_view caption);
// The panel's control name ("pnlSetPersonal", ...).
const std::string& OptionPanelName(OptionPage p);
// "" when the page works; else the one-line note shown over its disabled controls.
std::string OptionPageNote(OptionPage p);

// --- Personal settings ---
struct PersonalValues {
  std::string name;
  std::string userAddress;                 // "<id@domain>", read only; "" without a service address
  bool useAlternativeFrom = false;
  std::vector<std::string> fromList;       // the alternative From addresses
  int checkedFrom = -1;                    // the one ticked entry, or -1
  int messageFormat = 0;                   // 0 rich text (HTML), 1 plain text
  int charsetRow = -1;                     // row of CharsetRows(), -1 when none is selected
  bool useSignature = false;
  std::string signature;                   // decoded, lines joined by "\n"
  bool noTags = false;
  bool operator==(const PersonalValues&) const = default;
};

PersonalValues ShowPersonal(const Settings& s);
// Writes what differs from `shown`. Returns true when anything was written.
bool SavePersonal(Settings& s, const PersonalValues& shown, const PersonalValues& now);

// The From-address list's edit field: Save puts the trimmed text in place of the selected
// entry (selected >= 0) or adds it. Returns the row of the entry, or -1 when the text is blank
// or holds a character the comma list cannot keep.
int SaveFromEntry(PersonalValues& v, int selected, std::string_view text);
void RemoveFromEntry(PersonalValues& v, int selected);
// Ticks `row` (at most one entry is ticked); on = false unticks it.
void TickFromEntry(PersonalValues& v, int row, bool on);

// --- Appearance ---
struct AppearanceValues {
  bool useDashboardColor = false;
  ColorRef dashboardColor = kDefaultColor;
  bool useSliding = true;
  bool highlightBold = true;
  bool useHighlightColor = false;
  ColorRef highlightColor = kDefaultHighlightColor;
  bool operator==(const AppearanceValues&) const = default;
};

AppearanceValues ShowAppearance(const Settings& s);
bool SaveAppearance(Settings& s, const AppearanceValues& shown, const AppearanceValues& now);

enum class FontRole { Folder, File, TextEditor, HtmlEditor };
// The font dialog's caption for the role.
std::string FontDialogCaption(FontRole r);
FontValue ReadFont(const Settings& s, FontRole r, const FontValue& base);
// An immediate action: written at once.
void WriteFont(Settings& s, FontRole r, const FontValue& f);

// --- Plumadex mail configuration ---
inline constexpr int kMinCheckInterval = 1;
inline constexpr int kMaxCheckInterval = 600;

struct PXMailValues {
  bool autoCheck = false;
  int interval = 15;                       // minutes
  bool useLocalServer = false;
  std::string localServer;
  bool keepOnServer = false;
  bool operator==(const PXMailValues&) const = default;
};

PXMailValues ShowPXMail(const Settings& s);
// "" when the values may be saved, else the message (a local server that is blank while ticked
// or holds characters a host name cannot have).
std::string CheckPXMail(const PXMailValues& v);
struct PXMailSaved {
  bool written = false;
  bool checkTimerChanged = false;          // tmrCheckMail must be set anew
};
// Nothing is written when CheckPXMail refuses the values.
PXMailSaved SavePXMail(Settings& s, const PXMailValues& shown, const PXMailValues& now);

}  // namespace px::desk
