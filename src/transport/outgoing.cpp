#include "transport/outgoing.h"

#include "foundation/dates.h"
#include "foundation/locations.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/index_entry.h"
#include "store/index_file.h"
#include "transport/crypto_seam.h"
#include "transport/upload_record.h"

#include <algorithm>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace px::transport {

namespace {

using store::IniRegistry;
using store::TPXIniFile;

std::string IdOf(std::string_view section) {
  return StartsWithText(section, kRegisterPrefix) ? std::string(section.substr(kRegisterPrefix.size()))
                                                  : std::string(section);
}

// Moves a register section's lines to a new name.
void RenameSection(TPXCustomIni& ini, const std::string& from, const std::string& to, const StringList& lines) {
  ini.EraseSection(from);
  for (const auto& l : lines) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    ini.WriteString(to, std::string_view(l).substr(0, eq), std::string_view(l).substr(eq + 1));
  }
}

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

struct Candidate {
  std::string section;  // register section
  std::string id;       // without the prefix
  OutgoingPart part;
  std::string address, cc, bcc, excludeTo;
  bool encrypted = false;
};

}  // namespace

bool HasPendingMail(const TPXCustomIni& sent) {
  bool found = false;
  sent.ForEachSection([&](std::string_view, std::span<const std::string_view> lines) {
    if (found) return;
    const bool hasSent = !Trim(store::EntryValue(lines, "Sent").value_or("")).empty();
    if (!hasSent && store::IsPendingFlags(store::EntryFlags(lines, 0))) found = true;
  });
  return found;
}

StringList ExpandRecipients(std::string_view list, std::string_view excludeTo, const GroupMembersFn& groups) {
  return ParseAddressList(ExpandGroups(list, excludeTo, groups));
}

std::string RecordSettledRecipients(const OutgoingMessage& m, const std::vector<std::string>& accepted,
                                    const std::vector<std::string>& refused, TPXCustomIni& sent) {
  bool changed = false;
  for (const auto& p : m.parts) {
    if (p.registerSection.empty()) continue;
    for (const auto& [key, list] : {std::pair{kAcceptedKey, &accepted}, std::pair{kRefusedKey, &refused}}) {
      if (list->empty()) continue;
      std::string value = sent.ReadString(p.registerSection, key, "");
      bool grew = false;
      for (const auto& a : *list) {
        const std::string bare = LowerAscii(Trim(a));
        if (!bare.empty() && CommaListAdd(bare, value)) grew = true;
      }
      if (!grew) continue;
      sent.WriteString(p.registerSection, key, value);
      changed = true;
    }
  }
  if (!changed) return {};
  const FileStatus st = sent.UpdateFile();
  return st.ok() ? std::string() : st.message;
}

SendSnapshot TakeSendSnapshot(const SnapshotInputs& in) {
  SendSnapshot snap;
  TPXCustomIni& sent = *in.sent;
  std::map<std::string, std::unique_ptr<TPXIniFile>> indexes;
  auto index = [&](const std::string& folder) -> TPXIniFile& {
    auto& slot = indexes[folder];
    if (!slot) slot = std::make_unique<TPXIniFile>(*in.registry, store::IndexPathOf(folder));
    return *slot;
  };
  const bool cryptoOk = in.crypto && in.crypto->Available();
  bool registerChanged = false;

  StringList sections;
  sent.ReadSections(sections);
  // Candidates grouped by message base, each group in sorted section order.
  std::map<std::string, std::vector<Candidate>> byBase;
  std::vector<std::string> baseOrder;
  for (const auto& section : sections) {
    if (!Trim(sent.ReadString(section, "Sent", "")).empty()) continue;
    const std::string folder = WithSlash(sent.ReadString(section, "Path", ""));
    const std::string docSection = sent.ReadString(section, "ID", "");
    const std::string id = IdOf(section);
    const std::string base = SeriesBase(id);
    if (!in.trashFolder.empty() && StartsWithText(folder, in.trashFolder)) {
      sent.EraseSection(section);
      registerChanged = true;
      continue;
    }
    if (!in.onlyBases.empty() && !in.onlyBases.count(base)) continue;
    // A path written by the Windows program ("C:\...") is foreign: kept, never sent from here.
    if (folder.empty() || docSection.empty() || folder[0] != '/') continue;
    TPXIniFile& ix = index(folder);
    // An index that could not be read says nothing about its entries: keep the section.
    if (!ix.LoadStatus().ok()) {
      snap.warnings.push_back(ix.LoadStatus().message);
      continue;
    }
    if (!ix.SectionExists(docSection)) {
      sent.EraseSection(section);
      registerChanged = true;
      continue;
    }
    const int flags = store::ReadEntryFlags(ix, docSection, 0);
    if (!store::IsPendingFlags(flags) || !Trim(ix.ReadString(docSection, "Sent", "")).empty()) continue;
    Candidate c;
    c.section = section;
    c.id = id;
    c.encrypted = (flags & store::dfEncrypted) != 0;
    OutgoingPart& p = c.part;
    p.folder = folder;
    p.docSection = docSection;
    p.fileName = SplitTagPrefix(docSection).rest;
    p.filePath = folder + p.fileName;
    p.flags = flags;
    struct stat st;
    if (::stat(p.filePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      snap.warnings.push_back("The outgoing document " + p.filePath +
                              " is missing on disk; it has been taken off the list of mail to send.");
      sent.EraseSection(section);
      registerChanged = true;
      continue;
    }
    p.fileSize = static_cast<uint64_t>(st.st_size);
    if (p.fileSize > kMaxPartFileSize) {
      snap.warnings.push_back("Sorry, but " + p.filePath +
                              " is larger than 4 GB and cannot be sent; it stays in the outbox.");
      continue;
    }
    p.title = ix.ReadString(docSection, "Title", "");
    p.charset = ix.ReadString(docSection, "Charset", "");
    p.msgId = ix.ReadString(docSection, "MsgID", "");
    p.from = ix.ReadString(docSection, "From", "");
    p.original = ix.ReadString(docSection, "Original", "");
    p.inReplyTo = ix.ReadString(docSection, "In-Reply-To", "");
    p.references = ix.ReadString(docSection, "References", "");
    c.address = ix.ReadString(docSection, "Address", "");
    c.cc = ix.ReadString(docSection, "Cc", "");
    c.bcc = ix.ReadString(docSection, "Bcc", "");
    c.excludeTo = ix.ReadString(docSection, "ExcludeTo", "");
    auto [it, fresh] = byBase.try_emplace(base);
    if (fresh) baseOrder.push_back(base);
    it->second.push_back(std::move(c));
  }

  for (const auto& base : baseOrder) {
    std::vector<Candidate>& parts = byBase[base];
    // Encryption that cannot be done holds the whole message back: it never goes in clear.
    if (!cryptoOk && std::any_of(parts.begin(), parts.end(), [](const Candidate& c) { return c.encrypted; })) {
      snap.warnings.push_back("The message \"" + (parts[0].part.title.empty() ? parts[0].part.fileName : parts[0].part.title) +
                              "\" is to be sent encrypted, but encryption is not available. It stays in the outbox.");
      continue;
    }
    OutgoingMessage m;
    m.base = base;
    for (const auto& c : parts) {
      for (const auto& a : SplitCommaList(sent.ReadString(c.section, kAcceptedKey, "")))
        if (!Trim(a).empty()) m.acceptedFor.insert(LowerAscii(Trim(a)));
      for (const auto& a : SplitCommaList(sent.ReadString(c.section, kRefusedKey, "")))
        if (!Trim(a).empty()) m.refusedFor.insert(LowerAscii(Trim(a)));
    }
    m.address = parts[0].address;
    m.cc = parts[0].cc;
    m.bcc = parts[0].bcc;
    m.excludeTo = parts[0].excludeTo;
    m.to = ExpandRecipients(m.address, m.excludeTo, in.groupMembers);
    m.ccList = ExpandRecipients(m.cc, m.excludeTo, in.groupMembers);
    m.bccList = ExpandRecipients(m.bcc, m.excludeTo, in.groupMembers);
    if (m.to.empty() && m.ccList.empty() && m.bccList.empty()) {
      snap.warnings.push_back("The message \"" + (parts[0].part.title.empty() ? parts[0].part.fileName : parts[0].part.title) +
                              "\" has no recipients. It stays in the outbox.");
      continue;
    }
    for (const StringList* l : {&m.to, &m.ccList, &m.bccList})
      for (const auto& e : *l)
        if (BareAddressOf(e).find('@') == std::string::npos) m.sameService = true;

    // Renumbering: part k of N is base:k/N in the document and in the register.
    const unsigned n = static_cast<unsigned>(parts.size());
    std::vector<std::pair<Candidate*, StringList>> renamed;
    for (unsigned k = 1; k <= n; ++k) {
      Candidate& c = parts[k - 1];
      const SeriesId sid = ParseSeriesId(c.id);
      if (sid.part == static_cast<int>(k) && sid.count == static_cast<int>(n) && c.id.find(':') != std::string::npos) continue;
      const std::string newId = FormatSeriesId(base, static_cast<int>(k), static_cast<int>(n));
      StringList lines;
      sent.ReadSectionValues(c.section, lines);
      renamed.emplace_back(&c, std::move(lines));
      index(c.part.folder).WriteString(c.part.docSection, "MsgID", newId);
      c.part.msgId = newId;
      c.id = newId;
    }
    for (auto& [c, lines] : renamed) sent.EraseSection(c->section);
    for (auto& [c, lines] : renamed) {
      const std::string newSection = std::string(kRegisterPrefix) + c->id;
      RenameSection(sent, c->section, newSection, lines);
      c->section = newSection;
      registerChanged = true;
    }
    for (auto& c : parts) {
      // Mail to users of the service needs an identifier for receipts and replies.
      if (c.part.msgId.empty() && m.sameService) {
        c.part.msgId = "_" + NewUniqueId(*in.random);
        index(c.part.folder).WriteString(c.part.docSection, "MsgID", c.part.msgId);
      }
      c.part.registerSection = c.section;
      m.estimate += c.part.fileSize + 1000;
      m.parts.push_back(std::move(c.part));
    }
    snap.estimate += m.estimate;
    snap.messages.push_back(std::move(m));
  }
  std::sort(snap.messages.begin(), snap.messages.end(), [](const OutgoingMessage& a, const OutgoingMessage& b) {
    return IdOf(a.parts.front().registerSection) < IdOf(b.parts.front().registerSection);
  });

  // The register first: the documents it points at must never be lost to an index saved alone.
  if (registerChanged) {
    const FileStatus st = sent.UpdateFile();
    if (!st.ok()) snap.saveError = st;
  }
  for (auto& [folder, h] : indexes) {
    const FileStatus st = h->Release();
    if (!st.ok() && snap.saveError.ok()) snap.saveError = st;
  }
  // Nothing is sent from a store that could not be saved.
  if (!snap.saveError.ok()) snap.messages.clear();
  return snap;
}

}  // namespace px::transport
