#include "desk/option_pages.h"

#include "foundation/address.h"
#include "foundation/charset.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/index_value.h"

#include <algorithm>
#include <array>

namespace px::desk {

namespace {

struct PageInfo {
  std::string caption;
  std::string panel;
};

const std::array<PageInfo, kOptionPageCount>& Pages() {
  static const std::array<PageInfo, kOptionPageCount> pages = {{
      {"Personal settings", "pnlSetPersonal"},
      {"Appearance", "pnlSetAppearance"},
      {"Plumadex mail configuration", "pnlSetPXMail"},
      {"External e-mail configuration", "pnlSetExtMail"},
      {"E-mail blocking", "pnlSetBlackList"},
      {"Encryption", "pnlSetEncryption"},
      {"Import mail and contacts from other applications", "pnlSetImport"},
      {"Configuration Wizard", "pnlSetWizard"},
  }};
  return pages;
}

// Characters that would break a host name or the settings line it is written to.
bool BadHostText(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || c == '=' || c == '[' || c == ']' || c == '/' || c == '\\' || c == '@' || c == ',';
  });
}

StringList TextLines(std::string_view text) {
  StringList lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    std::string line(text.substr(start, nl - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = nl + 1;
  }
  return lines;
}

std::string JoinComma(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items) {
    if (!out.empty()) out += ',';
    out += i;
  }
  return out;
}

}  // namespace

const std::string& OptionPageCaption(OptionPage p) { return Pages()[static_cast<size_t>(p)].caption; }
const std::string& OptionPanelName(OptionPage p) { return Pages()[static_cast<size_t>(p)].panel; }

std::optional<OptionPage> OptionPageOf(std::string_view caption) {
  for (size_t i = 0; i < Pages().size(); ++i)
    if (Pages()[i].caption == caption) return static_cast<OptionPage>(i);
  return std::nullopt;
}

std::string OptionPageNote(OptionPage p) {
  switch (p) {
    case OptionPage::Encryption:
      return "Encryption keys will be made and managed here once encryption is part of Plumadex.";
    case OptionPage::Import:
      return "Importing mail and accounts from other programs will be offered here in a later version. Contacts kept as vCard files (.vcf) can be imported now.";
    case OptionPage::Wizard:
      return "The configuration wizard will come in a later version; every setting is on these pages meanwhile.";
    default: return {};
  }
}

// --- Personal settings ---

PersonalValues ShowPersonal(const Settings& s) {
  PersonalValues v;
  v.name = s.Name();
  if (!s.ID().empty()) v.userAddress = "<" + AddServiceDomain(s.ID()) + ">";
  v.useAlternativeFrom = s.UseAlternativeFromAddress();
  for (auto& item : SplitCommaList(s.AlternativeFromAddresses()))
    if (!item.empty()) v.fromList.push_back(std::move(item));
  const std::string chosen = Trim(s.AlternativeFromAddress());
  if (!chosen.empty()) {
    auto it = std::find(v.fromList.begin(), v.fromList.end(), chosen);
    if (it == v.fromList.end()) {
      v.fromList.push_back(chosen);
      it = v.fromList.end() - 1;
    }
    v.checkedFrom = static_cast<int>(it - v.fromList.begin());
  }
  v.messageFormat = s.MessageFormat() == 1 ? 1 : 0;
  const auto& rows = CharsetRows();
  const std::string charset = s.DefaultCharset();
  for (size_t i = 0; i < rows.size(); ++i)
    if (CompareText(rows[i].webCharset, charset) == 0) {
      v.charsetRow = static_cast<int>(i);
      break;
    }
  v.useSignature = s.UseSignature();
  v.signature = store::DecodeIndexText(s.Signature()).text;
  v.noTags = s.NoTags();
  return v;
}

bool SavePersonal(Settings& s, const PersonalValues& shown, const PersonalValues& now) {
  bool written = false;
  if (now.name != shown.name) {
    s.SetName(Trim(now.name));
    written = true;
  }
  // Without a ticked entry the alternative address cannot be used, whatever the box says.
  const bool checked = now.checkedFrom >= 0 && now.checkedFrom < static_cast<int>(now.fromList.size());
  const bool useAlt = now.useAlternativeFrom && checked;
  if (useAlt != shown.useAlternativeFrom) {
    s.SetUseAlternativeFromAddress(useAlt);
    written = true;
  }
  const std::string chosen = checked ? now.fromList[static_cast<size_t>(now.checkedFrom)] : std::string();
  const std::string shownChosen = shown.checkedFrom >= 0 && shown.checkedFrom < static_cast<int>(shown.fromList.size())
                                      ? shown.fromList[static_cast<size_t>(shown.checkedFrom)]
                                      : std::string();
  if (chosen != shownChosen) {
    s.SetAlternativeFromAddress(chosen);
    written = true;
  }
  if (now.fromList != shown.fromList) {
    s.SetAlternativeFromAddresses(JoinComma(now.fromList));
    written = true;
  }
  if (now.messageFormat != shown.messageFormat) {
    s.SetMessageFormat(now.messageFormat == 1 ? 1 : 0);
    written = true;
  }
  if (now.charsetRow != shown.charsetRow) {
    const auto& rows = CharsetRows();
    const bool valid = now.charsetRow >= 0 && now.charsetRow < static_cast<int>(rows.size());
    s.SetDefaultCharset(valid ? rows[static_cast<size_t>(now.charsetRow)].webCharset : std::string());
    written = true;
  }
  if (now.useSignature != shown.useSignature) {
    s.SetUseSignature(now.useSignature);
    written = true;
  }
  if (now.signature != shown.signature) {
    s.SetSignature(now.signature.empty() ? std::string() : store::EncodeIndexValue(TextLines(now.signature)));
    written = true;
  }
  if (now.noTags != shown.noTags) {
    s.SetNoTags(now.noTags);
    written = true;
  }
  if (written) (void)s.UpdateFile();  // a failure reaches the settings' save-failure handler
  return written;
}

int SaveFromEntry(PersonalValues& v, int selected, std::string_view text) {
  const std::string entry = Trim(text);
  // The list is stored as one comma text: a comma or a line break would split the entry.
  if (entry.empty() || entry.find_first_of(",\r\n") != std::string::npos) return -1;
  if (selected >= 0 && selected < static_cast<int>(v.fromList.size())) {
    v.fromList[static_cast<size_t>(selected)] = entry;
    return selected;
  }
  v.fromList.push_back(entry);
  return static_cast<int>(v.fromList.size()) - 1;
}

void RemoveFromEntry(PersonalValues& v, int selected) {
  if (selected < 0 || selected >= static_cast<int>(v.fromList.size())) return;
  v.fromList.erase(v.fromList.begin() + selected);
  if (v.checkedFrom == selected)
    v.checkedFrom = -1;
  else if (v.checkedFrom > selected)
    --v.checkedFrom;
}

void TickFromEntry(PersonalValues& v, int row, bool on) {
  if (row < 0 || row >= static_cast<int>(v.fromList.size())) return;
  if (on)
    v.checkedFrom = row;
  else if (v.checkedFrom == row)
    v.checkedFrom = -1;
}

// --- Appearance ---

AppearanceValues ShowAppearance(const Settings& s) {
  AppearanceValues v;
  v.useDashboardColor = s.UseDashboardColor();
  v.dashboardColor = s.DashboardColor();
  v.useSliding = s.UseSliding();
  v.highlightBold = s.HighlightFontBold();
  v.useHighlightColor = s.UseHighlightFontColor();
  v.highlightColor = s.HighlightFontColor();
  return v;
}

bool SaveAppearance(Settings& s, const AppearanceValues& shown, const AppearanceValues& now) {
  bool written = false;
  auto put = [&](bool differs, auto write) {
    if (!differs) return;
    write();
    written = true;
  };
  put(now.useDashboardColor != shown.useDashboardColor, [&] { s.SetUseDashboardColor(now.useDashboardColor); });
  put(now.dashboardColor != shown.dashboardColor, [&] { s.SetDashboardColor(now.dashboardColor); });
  put(now.useSliding != shown.useSliding, [&] { s.SetUseSliding(now.useSliding); });
  put(now.highlightBold != shown.highlightBold, [&] { s.SetHighlightFontBold(now.highlightBold); });
  put(now.useHighlightColor != shown.useHighlightColor, [&] { s.SetUseHighlightFontColor(now.useHighlightColor); });
  put(now.highlightColor != shown.highlightColor, [&] { s.SetHighlightFontColor(now.highlightColor); });
  if (written) (void)s.UpdateFile();  // a failure reaches the settings' save-failure handler
  return written;
}

std::string FontDialogCaption(FontRole r) {
  switch (r) {
    case FontRole::Folder: return "Select font for the folder tree";
    case FontRole::File: return "Select font for the file list";
    case FontRole::TextEditor: return "Select font for Plain Text editor";
    case FontRole::HtmlEditor: return "Select font for Rich Text (HTML) editor";
  }
  return {};
}

FontValue ReadFont(const Settings& s, FontRole r, const FontValue& base) {
  switch (r) {
    case FontRole::Folder: return s.FolderFont(base);
    case FontRole::File: return s.FileFont(base);
    case FontRole::TextEditor: return s.TextEditorFont(base);
    case FontRole::HtmlEditor: return s.HtmlEditorFont(base);
  }
  return base;
}

void WriteFont(Settings& s, FontRole r, const FontValue& f) {
  switch (r) {
    case FontRole::Folder: s.SetFolderFont(f); break;
    case FontRole::File: s.SetFileFont(f); break;
    case FontRole::TextEditor: s.SetTextEditorFont(f); break;
    case FontRole::HtmlEditor: s.SetHtmlEditorFont(f); break;
  }
  (void)s.UpdateFile();  // a failure reaches the settings' save-failure handler
}

// --- Plumadex mail configuration ---

PXMailValues ShowPXMail(const Settings& s) {
  PXMailValues v;
  v.autoCheck = s.AutoCheckMail();
  v.interval = std::clamp(s.MailCheckInterval(), kMinCheckInterval, kMaxCheckInterval);
  v.useLocalServer = s.UseLocalServer();
  v.localServer = s.LocalServer();
  v.keepOnServer = s.KeepOnServer();
  return v;
}

std::string CheckPXMail(const PXMailValues& v) {
  if (v.interval < kMinCheckInterval || v.interval > kMaxCheckInterval)
    return "Please enter a mail check interval from 1 to 600 minutes.";
  if (v.useLocalServer) {
    const std::string host = Trim(v.localServer);
    if (host.empty()) return "Please enter the name of the local server.";
    if (BadHostText(host))
      return "Sorry, but the local server must be a host name or \"host:port\", without blanks.";
  }
  return {};
}

PXMailSaved SavePXMail(Settings& s, const PXMailValues& shown, const PXMailValues& now) {
  PXMailSaved out;
  if (!CheckPXMail(now).empty()) return out;
  if (now.autoCheck != shown.autoCheck) {
    s.SetAutoCheckMail(now.autoCheck);
    out.written = out.checkTimerChanged = true;
  }
  if (now.interval != shown.interval) {
    s.SetMailCheckInterval(now.interval);
    out.written = out.checkTimerChanged = true;
  }
  if (now.useLocalServer != shown.useLocalServer) {
    s.SetUseLocalServer(now.useLocalServer);
    out.written = true;
  }
  // The server is kept only while the box is ticked; unticked, the old value stays as it was.
  if (now.useLocalServer && Trim(now.localServer) != Trim(shown.localServer)) {
    s.SetLocalServer(Trim(now.localServer));
    out.written = true;
  }
  if (now.keepOnServer != shown.keepOnServer) {
    s.SetKeepOnServer(now.keepOnServer);
    out.written = true;
  }
  if (out.written) (void)s.UpdateFile();  // a failure reaches the settings' save-failure handler
  return out;
}

}  // namespace px::desk
