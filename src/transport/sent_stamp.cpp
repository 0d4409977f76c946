#include "transport/sent_stamp.h"

#include "foundation/dates.h"
#include "foundation/locations.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/index_entry.h"
#include "store/index_file.h"
#include "transport/outgoing.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace px::transport {

namespace {

using store::IniRegistry;
using store::TPXIniFile;

class IndexCache {
public:
  explicit IndexCache(IniRegistry& r) : registry_(r) {}
  TPXIniFile& operator()(const std::string& folder) {
    auto& slot = open_[folder];
    if (!slot) slot = std::make_unique<TPXIniFile>(registry_, store::IndexPathOf(folder));
    return *slot;
  }
  // Saves and lets go of every index; the first failure.
  FileStatus ReleaseAll() {
    FileStatus first;
    for (auto& [f, h] : open_) {
      FileStatus st = h->Release();
      if (!st.ok() && first.ok()) first = std::move(st);
    }
    open_.clear();
    return first;
  }

private:
  IniRegistry& registry_;
  std::map<std::string, std::unique_ptr<TPXIniFile>> open_;
};

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string DeliveryRecord(std::string_view time, std::string_view address, std::string_view cc,
                           std::string_view bcc) {
  std::string r = std::string(time) + " " + std::string(address);
  if (!cc.empty()) r += ", cc: " + std::string(cc);
  if (!bcc.empty()) r += ", bcc: " + std::string(bcc);
  std::replace(r.begin(), r.end(), ',', ';');
  return r;
}

FileStatus StampSent(const OutgoingMessage& m, DateTime now, TPXCustomIni& sent, IniRegistry& registry) {
  const std::string time = FormatShortDate(now);
  IndexCache index(registry);
  for (size_t i = 0; i < m.parts.size(); ++i) {
    const OutgoingPart& p = m.parts[i];
    sent.WriteString(p.registerSection, "Sent", time);
    TPXIniFile& ix = index(p.folder);
    if (!ix.SectionExists(p.docSection)) continue;
    ix.WriteString(p.docSection, "Sent", time);
    if (i > 0) {
      ix.WriteString(p.docSection, "Address", m.address);
      if (!m.cc.empty()) ix.WriteString(p.docSection, "Cc", m.cc);
      if (!m.bcc.empty()) ix.WriteString(p.docSection, "Bcc", m.bcc);
      if (!m.excludeTo.empty()) ix.WriteString(p.docSection, "ExcludeTo", m.excludeTo);
    }
    const std::string original = ix.ReadString(p.docSection, "Original", "");
    if (original.empty()) continue;
    ix.DeleteKey(p.docSection, "Original");
    if (original.size() <= 2) continue;
    const std::string key = original[0] == 'R' ? "Replied" : "Forwarded";
    std::string folder, name;
    SplitPath(original.substr(2), folder, name);
    if (folder.empty() || name.empty()) continue;
    TPXIniFile& answered = index(folder);
    if (!answered.SectionExists(name)) continue;
    std::string list = answered.ReadString(name, key, "");
    if (CommaListAdd(DeliveryRecord(time, m.address, m.cc, m.bcc), list)) answered.WriteString(name, key, list);
  }
  // The register first, flushed: from here on the message counts as sent.
  FileStatus st = sent.UpdateFile();
  FileStatus ie = index.ReleaseAll();
  return st.ok() ? ie : st;
}

CommitResult CommitSentMail(TPXCustomIni& sent, IniRegistry& registry, DateTime now, bool cryptoAvailable) {
  CommitResult result;
  IndexCache index(registry);
  StringList sections;
  sent.ReadSections(sections);
  // (folder, base) pairs whose parts' times are brought together, with the latest time.
  std::map<std::pair<std::string, std::string>, DateTime> messages;
  for (auto it = sections.rbegin(); it != sections.rend(); ++it) {
    const std::string& section = *it;
    const std::string sentTime = Trim(sent.ReadString(section, "Sent", ""));
    if (sentTime.empty()) continue;
    const int regFlags = store::ReadEntryFlags(sent, section, 0);
    if (!(regFlags & store::dfPending)) {
      const DateTime t = ParseShortDate(sentTime);
      if (t != 0 && now - t > 60.0) {
        sent.EraseSection(section);
        result.changed = true;
      }
      continue;
    }
    const std::string folder = WithSlash(sent.ReadString(section, "Path", ""));
    const std::string doc = sent.ReadString(section, "ID", "");
    if (!folder.empty() && !doc.empty()) {
      TPXIniFile& ix = index(folder);
      if (ix.SectionExists(doc)) {
        ix.WriteString(doc, "Time", sentTime);
        int flags = static_cast<int>(ix.ReadInteger(doc, "Flags", 0));
        flags &= ~store::dfPending;
        if (SplitTagPrefix(doc).rest.find(".vcf") == std::string::npos) flags |= store::dfSealed;
        if (!cryptoAvailable) flags &= ~store::dfEncrypted;
        ix.WriteInteger(doc, "Flags", flags);
        const std::string base = SeriesBase(ix.ReadString(doc, "MsgID", ""));
        if (!base.empty()) {
          DateTime& latest = messages[{folder, base}];
          latest = std::max(latest, ParseShortDate(sentTime));
        }
      }
    }
    sent.WriteInteger(section, "Flags", store::dfOutgoing);
    result.changed = true;
  }
  // Every part of a message in one folder shows the latest time among them.
  std::map<std::string, std::vector<std::pair<std::string, DateTime>>> perFolder;
  for (const auto& [key, t] : messages) perFolder[key.first].push_back({key.second, t});
  for (auto& [folder, bases] : perFolder) {
    TPXIniFile& ix = index(folder);
    std::map<std::string, DateTime> latest(bases.begin(), bases.end());
    std::vector<std::pair<std::string, std::string>> sectionsToSet;  // section, base
    ix.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
      const std::string msgId(store::EntryValue(lines, "MsgID").value_or(""));
      const std::string time(store::EntryValue(lines, "Time").value_or(""));
      if (msgId.empty()) return;
      auto it = latest.find(SeriesBase(msgId));
      if (it == latest.end()) return;
      const DateTime t = ParseShortDate(time);
      if (t > it->second) it->second = t;
      sectionsToSet.emplace_back(std::string(name), it->first);
    });
    for (const auto& [name, base] : sectionsToSet) {
      const std::string want = FormatShortDate(latest[base]);
      if (!want.empty() && ix.ReadString(name, "Time", "") != want) ix.WriteString(name, "Time", want);
    }
  }
  if (result.changed) {
    result.saveError = sent.UpdateFile();
  }
  FileStatus ie = index.ReleaseAll();
  if (result.saveError.ok()) result.saveError = std::move(ie);
  return result;
}

}  // namespace px::transport
