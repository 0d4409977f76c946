#include "compose/open_request.h"

#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/index_file.h"

#include <algorithm>

namespace px::compose {

namespace {
std::string ExtOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}
}  // namespace

OpenRequest OpenRequestForEntry(store::IniRegistry& registry, const std::string& folder, const std::string& name,
                                const std::string& prefix, const std::function<std::string(DateTime)>& dateText) {
  OpenRequest r;
  r.path = folder + name;
  store::TPXIniFile ini(registry, store::IndexPathOf(folder));
  const std::string section = prefix + name;
  auto raw = [&](std::string_view key) { return ini.ReadString(section, key, ""); };
  const int flags = static_cast<int>(ini.ReadInteger(section, "Flags", 0));
  r.flags = flags;
  r.charset = raw("Charset");
  auto val = [&](std::string_view key) {
    const std::string v = raw(key);
    return r.charset.empty() ? v : DecodeFromCharset(v, r.charset);
  };
  std::string title = val("Title");
  if (title.empty()) {
    title = name;
    const size_t dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0) title.resize(dot);
  }
  r.subject = title;
  r.title = title;
  const std::string ext = LowerCase(ExtOf(name));
  if (ext == "eml" || ext == "htm" || ext == "html" || ext == "mht") r.options |= eoHtml;
  const bool mail = (flags & store::dfMailMask) != 0;
  if (!mail) {
    r.options |= eoPlainDocument;
    (void)ini.Release();  // only read
    return r;
  }
  r.options |= eoMail;
  const bool received = flags & store::dfReceived;
  if (received) {
    r.options |= eoReceived;
    r.from = val("Address");
    r.to = val("To");
  } else {
    r.from = val("From");
    r.to = val("Address");
  }
  r.cc = val("Cc");
  r.bcc = val("Bcc");
  r.excludeTo = raw("ExcludeTo");
  r.original = raw("Original");
  r.msgId = raw("MsgID");
  r.messageId = raw("Message-ID");
  r.references = raw("References");
  r.inReplyTo = raw("In-Reply-To");
  if (!r.cc.empty() || ParseAddressList(r.to).size() > 1) r.options |= eoReplyAllOffered;
  // Outgoing mail not yet sent (pending, or kept as a draft) opens again as a message to edit.
  if (!received && (flags & (store::dfPending | store::dfDraft))) r.options |= eoReEdit | eoStartNew;

  r.headerLines.push_back("From: " + r.from);
  r.headerLines.push_back("To: " + r.to);
  if (!r.cc.empty()) r.headerLines.push_back("Cc: " + r.cc);
  if (!r.bcc.empty()) r.headerLines.push_back("Bcc: " + r.bcc);
  const std::string sent = val("Sent");
  if (received && !sent.empty()) {
    r.headerLines.push_back("Date: " + sent);
  } else {
    const DateTime t = ParseShortDate(raw("Time"));
    if (t != 0) r.headerLines.push_back("Date: " + (dateText ? dateText(t) : FormatMailDate(t)));
  }
  r.headerLines.push_back("Subject: " + title);

  // The companions: the other documents with the same message id base.
  const std::string base = SeriesBase(r.msgId);
  if (!base.empty()) {
    struct Part {
      int number;
      std::string path, name;
      bool operator<(const Part& o) const { return number < o.number; }
    };
    std::vector<Part> parts;
    StringList sections;
    ini.ReadSections(sections);
    for (const std::string& s : sections) {
      if (SameText(s, section)) continue;
      const std::string id = ini.ReadString(s, "MsgID", "");
      if (id.empty() || SeriesBase(id) != base) continue;
      const TagSplit t = SplitTagPrefix(s);
      std::string path;
      if (t.prefix == store::kLinkPrefix) {
        std::string target = ini.ReadString(s, "Path", "");
        const std::string targetId = ini.ReadString(s, "ID", "");
        if (target.empty() || targetId.empty()) continue;
        if (target.back() != '/') target += '/';
        path = target + SplitTagPrefix(targetId).rest;
      } else {
        path = folder + t.rest;
      }
      // Shown under its own name: the title with the file's extension (a " (n)" the file name
      // needed to stand beside another file is no part of it).
      std::string name = path.substr(path.rfind('/') + 1);
      const std::string partCharset = ini.ReadString(s, "Charset", "");
      std::string title = ini.ReadString(s, "Title", "");
      if (!title.empty() && !partCharset.empty()) title = DecodeFromCharset(title, partCharset);
      if (!Trim(title).empty()) {
        const std::string ext = ExtOf(name);
        name = ext.empty() || LowerCase(ExtOf(title)) == LowerCase(ext) ? title : title + "." + ext;
      }
      parts.push_back({static_cast<int>(ParseSeriesId(id).part), path, name});
      if (std::string cid = ini.ReadString(s, "Content-ID", ""); !cid.empty())
        r.partContentIds.emplace_back(std::move(cid), path);
    }
    std::stable_sort(parts.begin(), parts.end());
    std::string names;
    for (const auto& p : parts) {
      if (p.path == r.path) continue;
      r.attachments.push_back(p.path);
      if (!names.empty()) names += ", ";
      names += p.name;
    }
    if (!names.empty()) r.headerLines.push_back("Attachments: " + names);
  }
  (void)ini.Release();  // only read
  // The information panel never shows a line break inside a value.
  for (std::string& l : r.headerLines)
    for (char& c : l)
      if (c == '\r' || c == '\n') c = ' ';
  return r;
}

OpenRequest NewMessageRequest(const std::string& folder, const std::string& to, bool html) {
  OpenRequest r;
  r.path = folder;  // no document: the folder the message will be filed in
  r.options = eoStartNew;
  if (html) r.options |= eoHtml;
  r.to = to;
  return r;
}

}  // namespace px::compose
