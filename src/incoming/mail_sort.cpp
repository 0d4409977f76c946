#include "incoming/mail_sort.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "foundation/address.h"
#include "foundation/message_queue.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "incoming/blocked_senders.h"
#include "mailformat/codecs.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/text_extract.h"
#include "store/list_file.h"

namespace px::incoming {

namespace {

constexpr size_t kMaxRuleText = 1 << 20;  // bodies read for "X" conditions: the first MiB
constexpr size_t kMaxRules = 10000;

bool IsDir(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Slashed(std::string p) {
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

std::string NoBars(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '|') c = '!';
    else if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

std::vector<std::string_view> SplitBars(std::string_view line) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  for (;;) {
    size_t bar = line.find('|', pos);
    if (bar == std::string_view::npos) {
      out.push_back(line.substr(pos));
      return out;
    }
    out.push_back(line.substr(pos, bar - pos));
    pos = bar + 1;
  }
}

std::optional<SortCondition> ParseCondition(std::string_view f) {
  // letters, blank, relation, blank, value
  const size_t blank = f.find(' ');
  if (blank == 0 || blank == std::string_view::npos || blank + 2 > f.size()) return std::nullopt;
  const char rel = f[blank + 1];
  if (rel != '<' && rel != '>') return std::nullopt;
  if (blank + 2 < f.size() && f[blank + 2] != ' ') return std::nullopt;
  SortCondition c;
  c.fields = std::string(f.substr(0, blank));
  c.includes = rel == '<';
  c.value = blank + 3 <= f.size() ? std::string(f.substr(blank + 3)) : std::string();
  return c;
}


std::string ReplaceAll(std::string s, std::string_view what, std::string_view with) {
  for (size_t pos = 0; (pos = s.find(what, pos)) != std::string::npos; pos += with.size())
    s.replace(pos, what.size(), with);
  return s;
}

std::vector<std::string> KeywordsOf(std::string_view value) {
  std::vector<std::string> out;
  for (auto& l : store::SplitListText(std::string(value))) {
    std::string t = Trim(l);
    if (!t.empty()) out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

// ---- the stored form ---------------------------------------------------------------------------

bool SortCondition::Valid() const {
  if (fields == "_") return true;
  if (fields.empty()) return false;
  return std::all_of(fields.begin(), fields.end(),
                     [](char c) { return kRuleFieldLetters.find(c) != std::string_view::npos; });
}

bool SortCondition::HasAddressField() const {
  return fields.find_first_of("FTCB") != std::string::npos;
}

std::string RuleAddressForm(std::string_view address) { return BlockedForm(address); }

std::string StoredConditionValue(std::string_view fields, std::string_view value) {
  if (fields.find_first_of("FTCB") != std::string_view::npos) {
    std::string a = RuleAddressForm(value);
    if (!a.empty()) return NoBars(a);
  }
  return NoBars(value);
}

std::string FormatRule(const SortRule& r) {
  std::string line = NoBars(r.name);
  line += '|';
  if (!r.enabled) line += '-';
  line += r.all ? 'A' : 'O';
  line += r.action;
  if (r.action != 'D') line += " " + NoBars(r.folder);
  for (const auto& c : r.conditions) {
    if (c.fields == "#") continue;  // a placeholder being edited
    line += '|';
    line += c.fields.empty() ? std::string("_") : NoBars(c.fields);
    line += c.includes ? " < " : " > ";
    line += NoBars(c.value);
  }
  return line;
}

std::optional<SortRule> ParseRule(std::string_view line, std::string* why) {
  auto fail = [why](const char* text) -> std::optional<SortRule> {
    if (why) *why = text;
    return std::nullopt;
  };
  auto fields = SplitBars(line);
  if (fields.size() < 2) return fail("no action");
  SortRule r;
  r.name = std::string(fields[0]);
  std::string_view a = fields[1];
  if (!a.empty() && a[0] == '-') {
    r.enabled = false;
    a.remove_prefix(1);
  }
  if (a.size() < 2) return fail("the action is too short");
  if (a[0] != 'O' && a[0] != 'A') return fail("the combination is neither O nor A");
  r.all = a[0] == 'A';
  r.action = a[1];
  if (r.action == 'D') {
    if (a.size() != 2) return fail("a delete action names no folder");
  } else if (r.action == 'C' || r.action == 'M') {
    if (a.size() < 4 || a[2] != ' ') return fail("the action names no folder");
    r.folder = std::string(a.substr(3));
  } else {
    return fail("the action is neither C, M nor D");
  }
  for (size_t i = 2; i < fields.size(); ++i) {
    auto c = ParseCondition(fields[i]);
    if (!c) return fail("a condition cannot be read");
    r.conditions.push_back(std::move(*c));
  }
  return r;
}

// ---- text of a message -------------------------------------------------------------------------

std::string RuleTextSource::Prepare(std::string text) {
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
  return ascii ? AsciiLower(text) : LowerCase(text);
}

bool RuleTextSource::Matches(const std::string& prepared, const std::vector<std::string>& keywords) {
  if (keywords.empty()) return !prepared.empty();
  for (const auto& k : keywords)
    if (prepared.find(LowerCase(k)) == std::string::npos) return false;
  return true;
}

std::optional<std::string> PlainRuleTextSource::TextOf(const std::string& path, std::string_view kind) {
  const std::string k = AsciiLower(kind);
  if (k == "eml") {
    auto t = mailformat::ExtractEmlText(path);
    if (!t.found) return std::nullopt;
    std::string out;
    for (const auto& l : t.lines) out += mailformat::DescriptorTextToUtf8(l, t.charset) + "\n";
    return out;
  }
  // Plain text and HTML are read here; other formats wait for the search engine's readers.
  if (k != "txt" && k != "htm" && k != "html" && k != "mht" && k != "mhtml" && k != "text") return std::nullopt;
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  // Only what the file holds, up to the cap: most bodies are small.
  struct stat st{};
  const size_t want = ::fstat(::fileno(f), &st) == 0 && st.st_size >= 0
                          ? std::min(kMaxRuleText, static_cast<size_t>(st.st_size))
                          : kMaxRuleText;
  bytes.resize(want);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  if (k == "htm" || k == "html" || k == "mht" || k == "mhtml") {
    auto r = mailformat::HtmlToText(bytes);
    std::string out;
    for (const auto& l : r.lines) out += l + "\n";
    return out;
  }
  return bytes;
}

// ---- the list ----------------------------------------------------------------------------------

MailSortRules::MailSortRules() : text_(std::make_unique<PlainRuleTextSource>()) {}
MailSortRules::~MailSortRules() = default;

void MailSortRules::SetTextSource(std::unique_ptr<RuleTextSource> source) {
  text_ = source ? std::move(source) : std::make_unique<PlainRuleTextSource>();
}

LoadResult MailSortRules::Load(const std::string& file) {
  file_ = file;
  rules_.clear();
  unreadable_.clear();
  warnedMissing_.clear();
  LoadResult res;
  std::set<std::string> seen;
  size_t n = 0;
  for (const auto& line : store::ReadListFile(file)) {
    ++n;
    if (Trim(line).empty()) continue;
    if (!seen.insert(line).second) continue;  // the list ignores duplicate lines
    std::string why;
    auto r = ParseRule(line, &why);
    if (!r || rules_.size() >= kMaxRules) {
      if (!r) res.badLines.push_back("line " + std::to_string(n) + ": " + line + " (" + why + ")");
      unreadable_.push_back(line);
      continue;
    }
    rules_.push_back(std::move(*r));
  }
  res.rules = rules_.size();
  if (messages_ && !res.badLines.empty()) {
    std::string text = "These lines of " + file + " could not be read; they are kept but not used:";
    for (const auto& b : res.badLines) text += "\r" + b;
    messages_->QueueMessage(MessageKind::Warning, text);
  }
  return res;
}

bool MailSortRules::SaveAs(const std::string& file) const {
  StringList lines;
  std::set<std::string> seen;
  for (const auto& r : rules_) {
    std::string l = FormatRule(r);
    if (seen.insert(l).second) lines.push_back(std::move(l));
  }
  for (const auto& l : unreadable_) lines.push_back(l);
  return store::SaveListFile(file, lines).ok();
}

bool MailSortRules::Save() const { return file_.empty() ? false : SaveAs(file_); }

bool MailSortRules::Add(const SortRule& rule) {
  const std::string line = FormatRule(rule);
  for (const auto& r : rules_)
    if (FormatRule(r) == line) return false;
  rules_.push_back(rule);
  return true;
}

size_t MailSortRules::Remove(std::string_view name) {
  const size_t before = rules_.size();
  std::erase_if(rules_, [&](const SortRule& r) { return SameText(r.name, name); });
  return before - rules_.size();
}

std::string MailSortRules::NewRuleName() const {
  for (int i = 1;; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Rule %03d", i);
    bool taken = std::any_of(rules_.begin(), rules_.end(), [&](const SortRule& r) { return SameText(r.name, buf); });
    if (!taken) return buf;
  }
}

// ---- evaluation --------------------------------------------------------------------------------

bool MailSortRules::TextHolds(const RuleMessage& m, const std::string& value) const {
  if (m.bodyPath.empty() || !text_) return false;
  if (cachedPath_ != m.bodyPath) {
    cachedPath_ = m.bodyPath;
    try {
      cachedText_ = text_->TextOf(m.bodyPath, m.bodyKind);
      if (cachedText_) cachedText_ = text_->Prepare(std::move(*cachedText_));
    } catch (...) {
      cachedText_.reset();  // an error counts as no match
    }
  }
  return cachedText_ && text_->Matches(*cachedText_, KeywordsOf(value));
}

const std::string& MailSortRules::FormOf(const std::string& address) const {
  if (forms_.size() > 4096) forms_.clear();
  auto it = forms_.find(address);
  if (it == forms_.end()) it = forms_.emplace(address, RuleAddressForm(address)).first;
  return it->second;
}

bool MailSortRules::ListHolds(const std::string& list, const std::string& value) const {
  auto it = lists_.find(list);
  if (it == lists_.end()) {
    std::vector<std::string> forms;
    for (const auto& e : ParseAddressList(list)) forms.push_back(RuleAddressForm(e));
    it = lists_.emplace(list, std::move(forms)).first;
  }
  const std::string& v = FormOf(value);
  if (v.empty()) return false;
  for (const auto& f : it->second)
    if (f == v) return true;
  return false;
}

bool MailSortRules::MatchesCondition(const SortCondition& c, const RuleMessage& m) const {
  bool result = !c.includes;
  for (char letter : c.fields) {
    bool hit = false;
    switch (letter) {
      case 'F': {
        const std::string& v = FormOf(c.value);
        hit = !v.empty() && FormOf(m.sender) == v;
        break;
      }
      case 'T': hit = ListHolds(m.to, c.value); break;
      case 'C': hit = ListHolds(m.cc, c.value); break;
      case 'B': hit = ListHolds(m.bcc, c.value); break;
      case 'S': hit = !c.value.empty() && m.subject.find(c.value) != std::string::npos; break;
      case 'X': hit = TextHolds(m, c.value); break;
      case 'A': hit = !m.account.empty() && SameText(m.account, c.value); break;
      default: break;
    }
    if (hit) return c.includes;
  }
  return result;
}

bool MailSortRules::RuleMatches(const SortRule& rule, const RuleMessage& m) const {
  if (!rule.enabled || rule.conditions.empty()) return false;
  bool last = false;
  for (const auto& c : rule.conditions) {
    if (c.fields == "#") continue;
    last = MatchesCondition(c, m);
    if (rule.all && !last) return false;
    if (!rule.all && last) return true;
  }
  return last;
}

std::vector<const SortRule*> MailSortRules::Matching(char kind, const RuleMessage& m) const {
  std::vector<const SortRule*> out;
  for (const auto& r : rules_)
    if (r.action == kind && RuleMatches(r, m)) out.push_back(&r);
  return out;
}

void MailSortRules::NoteMissingFolder(const SortRule& rule) {
  // Said once per rule and folder while the program runs, not at every filing run.
  if (!warnedMissing_.insert(rule.name + "|" + rule.folder).second || !messages_) return;
  std::string text = "The folder " + rule.folder + " of the mail sorting rule '" + rule.name +
                     "' no longer exists. Messages for it are filed into " +
                     (documents_.empty() ? std::string("the documents folder") : documents_) + ".";
  messages_->QueueMessage(MessageKind::Warning, text);
}

void MailSortRules::Evaluate(const SortInput& in, std::vector<SortAction>& actions) {
  RuleMessage m;
  m.sender = in.sender;
  m.subject = in.subject;
  if (in.tags) {
    m.to = in.tags->Key("To");
    m.cc = in.tags->Key("Cc");
    m.bcc = in.tags->Key("Bcc");
    m.account = in.tags->Key("Account");
  }
  m.bodyPath = in.contentPath;
  if (in.descriptor) m.bodyKind = in.descriptor->kind;
  try {
    for (char kind : {'C', 'M', 'D'}) {
      for (const SortRule* r : Matching(kind, m)) {
        if (kind != 'D') {
          const std::string folder = Slashed(r->folder);
          if (!IsDir(folder)) NoteMissingFolder(*r);
          actions.push_back(SortAction{SortAction::Copy, in.baseId, folder, {}});
          if (kind == 'M') actions.push_back(SortAction{SortAction::Delete, in.baseId, {}, folder});
        } else {
          actions.push_back(SortAction{SortAction::Delete, in.baseId, {}, {}});
        }
      }
    }
  } catch (...) {
    // An error while evaluating ends the evaluation: the message stays where it was filed.
  }
  cachedPath_.clear();
  cachedText_.reset();
  lists_.clear();
}

// ---- folders and quick sort --------------------------------------------------------------------

std::vector<std::string> MailSortRules::FolderMoved(const std::string& oldFolder, const std::string& newFolder) {
  std::vector<std::string> changed;
  const std::string from = Slashed(oldFolder), to = Slashed(newFolder);
  if (from.empty() || from == to) return changed;
  for (auto& r : rules_) {
    if (r.action == 'D' || r.conditions.empty()) continue;
    const std::string dest = Slashed(r.folder);
    // Paths keep their case on Linux: only the folder itself and what lies in it move along.
    if (dest.size() < from.size() || dest.compare(0, from.size(), from) != 0) continue;
    r.folder = to + dest.substr(from.size());
    changed.push_back(r.name);
  }
  if (!changed.empty()) {
    warnedMissing_.clear();
    (void)Save();  // a failed save of the list is ignored, as for every small list
  }
  return changed;
}

std::string MailSortRules::QuickSort(const std::vector<std::string>& addresses, const std::string& folder) {
  const std::string dest = Slashed(folder);
  std::vector<SortCondition> add;
  for (const auto& a : addresses) {
    std::string v = RuleAddressForm(a);
    if (v.empty()) continue;
    SortCondition c{"F", true, NoBars(v)};
    if (std::find(add.begin(), add.end(), c) == add.end()) add.push_back(std::move(c));
  }
  SortRule* target = nullptr;
  for (auto it = rules_.rbegin(); it != rules_.rend(); ++it)
    if (it->enabled && it->action == 'M' && !it->all && !it->conditions.empty() && Slashed(it->folder) == dest) {
      target = &*it;
      break;
    }
  if (!target) {
    SortRule r;
    std::string name = dest;
    if (!name.empty()) name.pop_back();
    name = name.substr(name.rfind('/') + 1);
    r.name = "Quick Sort for " + name;
    r.action = 'M';
    r.folder = dest;
    rules_.push_back(std::move(r));
    target = &rules_.back();
  }
  for (auto& c : add)
    if (std::find(target->conditions.begin(), target->conditions.end(), c) == target->conditions.end())
      target->conditions.push_back(c);
  const std::string name = target->name;
  (void)Save();
  if (messages_) {
    std::string who;
    for (const auto& c : add) who += (who.empty() ? "" : ", ") + c.value;
    std::string rel = dest;
    if (!documents_.empty() && rel.starts_with(documents_)) rel = rel.substr(documents_.size());
    if (!rel.empty() && rel.back() == '/') rel.pop_back();
    std::string text = "Incoming messages from %1 will be placed into the folder '%2'. The corresponding "
                       "sorting rule is named '%3'";
    text = ReplaceAll(ReplaceAll(ReplaceAll(text, "%1", who), "%2", rel), "%3", name);
    messages_->QueueMessage(MessageKind::Information, text);
  }
  return name;
}

RuleMessage RuleMessageOfEntry(const std::string& folder, const std::string& fileName,
                               const std::vector<std::pair<std::string, std::string>>& keys) {
  RuleMessage m;
  for (const auto& [k, v] : keys) {
    if (SameText(k, "Address")) m.sender = v;
    else if (SameText(k, "To")) m.to = v;
    else if (SameText(k, "Cc")) m.cc = v;
    else if (SameText(k, "Bcc")) m.bcc = v;
    else if (SameText(k, "Account")) m.account = v;
    else if (SameText(k, "Title")) m.subject = v;
  }
  if (m.subject.empty()) {
    const size_t dot = fileName.rfind('.');
    m.subject = dot == std::string::npos ? fileName : fileName.substr(0, dot);
  }
  m.bodyPath = Slashed(folder) + fileName;
  const size_t dot = fileName.rfind('.');
  if (dot != std::string::npos) m.bodyKind = fileName.substr(dot + 1);
  return m;
}

}  // namespace px::incoming
