#include "search/filter.h"

#include "search/doc_index.h"

#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/index_value.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <unordered_set>

namespace px::search {
namespace {

bool isSeparator(char c) { return c == ' ' || c == ',' || c == ';' || c == '\t'; }

std::string stemOf(std::string_view msgId) {
  const size_t colon = msgId.find(':');
  return std::string(colon == std::string_view::npos ? msgId : msgId.substr(0, colon));
}

std::string bareLower(std::string_view item) {
  if (IsGroupAddress(item)) return LowerCase(Trim(item));
  return LowerCase(BareAddressOf(item));
}

bool addressTest(const store::DocRecord& d, const FilterCriteria& c, const GroupMembersFn& members) {
  std::string text;
  const bool skipAddress = ((d.flags & store::dfOutgoing) && c.ignoreTo) || ((d.flags & store::dfReceived) && c.ignoreFrom);
  auto expand = [&](std::string_view list) {
    return members ? ExpandGroups(list, d.excludeTo(), members) : std::string();
  };
  if (!skipAddress) {
    text = d.address;
    text += ",";
    text += expand(d.address);
  }
  if (!d.cc().empty() && !c.ignoreCc) text += "," + std::string(d.cc()) + "," + expand(d.cc());
  if (!d.bcc().empty() && !c.ignoreBcc) text += "," + std::string(d.bcc()) + "," + expand(d.bcc());
  if (!d.to().empty() && !c.ignoreTo) text += "," + std::string(d.to());
  if (!d.from().empty() && !c.ignoreFrom) text += "," + std::string(d.from());
  std::set<std::string> have;
  for (const std::string& item : ParseAddressList(text)) {
    std::string b = bareLower(item);
    if (!b.empty()) have.insert(std::move(b));
  }
  if (have.empty()) return false;
  if (c.anyAddress) {
    return std::any_of(c.addresses.begin(), c.addresses.end(), [&](const std::string& a) { return have.count(a) > 0; });
  }
  return std::all_of(c.addresses.begin(), c.addresses.end(), [&](const std::string& a) { return have.count(a) > 0; });
}

}  // namespace

unsigned FilterCriteria::MatcherFlags() const {
  unsigned f = SF_SCANOTHERFORMATS;
  if (caseSensitive) f |= SF_CASESENSITIVE;
  if (wholeWords) f |= SF_WHOLEWORDS;
  if (anyKeyword) f |= SF_ANYSTRINGS;
  return f;
}

StringList SplitFilterKeywords(std::string_view text) {
  StringList out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isSeparator(text[i])) ++i;
    size_t j = i;
    while (j < text.size() && !isSeparator(text[j])) ++j;
    if (j > i) out.emplace_back(text.substr(i, j - i));
    i = j;
  }
  return out;
}

StringList FilterAddressesOf(std::string_view text) {
  StringList out;
  for (const std::string& item : ParseAddressList(text)) {
    std::string b = bareLower(item);
    if (!b.empty()) out.push_back(std::move(b));
  }
  return out;
}

void UnreadableFiles::Add(const std::string& path, int error) {
  std::lock_guard lock(mutex_);
  files_.emplace_back(path, error);
}

std::vector<std::pair<std::string, int>> UnreadableFiles::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(files_, {});
}

std::string UnreadableFiles::Summary(const std::vector<std::pair<std::string, int>>& files) {
  if (files.empty()) return {};
  constexpr size_t kShown = 10;
  std::string s = "Some files could not be searched:";
  for (size_t i = 0; i < files.size() && i < kShown; ++i) {
    s += "\r" + files[i].first;
    if (files[i].second) s += " (" + std::string(std::strerror(files[i].second)) + ")";
  }
  if (files.size() > kShown) s += "\r... and " + std::to_string(files.size() - kShown) + " more.";
  return s;
}

void ConfigureEngine(TSearchEngine& engine, const FilterCriteria& criteria) {
  engine.Configure(criteria.MatcherFlags(), criteria.keywords);
}

std::string FileToSearch(const store::DocRecord& doc, const FilterCriteria& criteria) {
  if (doc.IsContactRef()) return criteria.contactsFolder + doc.name;
  return doc.FilePath();
}

bool MatchesFilter(const store::DocRecord& d, const FilterEnv& env) {
  const FilterCriteria& c = *env.criteria;
  if (c.lowerBound != 0 && d.date < c.lowerBound) return false;
  if (c.upperBound != 0 && std::floor(d.date) > c.upperBound) return false;
  if (!c.addresses.empty() && !addressTest(d, c, env.groupMembers)) return false;
  if (c.keywords.empty()) return true;

  std::string text = d.title + " " + d.address + " " + std::string(d.cc()) + " " + std::string(d.bcc()) + " " +
                     std::string(d.to()) + " " + std::string(d.from());
  if (c.searchInside && !d.sticker.empty()) {
    StringList lines;
    store::DecodeIndexValue(d.sticker, lines);
    text += "~";
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  }
  unsigned flags = c.MatcherFlags() & ~SF_SCANOTHERFORMATS;
  if (KeywordMatcher::MatchText(text, c.keywords, flags)) return true;
  if (!c.searchInside || !env.engine) return false;
  // A document whose file was not read because a stop is pending is not a match.
  if (env.stop && env.stop->load()) return false;
  const std::string path = FileToSearch(d, c);
  if (env.indexed)
    if (const std::optional<bool> known = env.indexed->FileMatches(path)) return *known;
  const FileAnswer a = env.engine->SearchFile(path);
  if (a.unreadable && env.unreadable) env.unreadable->Add(path, a.error);
  return a.match;
}

size_t ApplyFilter(store::DocRows& rows, const FilterEnv* env) {
  std::unordered_set<std::string> stems;
  const bool bundles = env && env->criteria->bundles;
  size_t visible = 0;
  // From the last entry to the first, so that a match un-hides the parts already walked.
  for (size_t k = rows.size(); k-- > 0;) {
    store::DocRecord& r = rows[k];
    if (r.searchState & store::rsBundleMatch) {
      rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(k));
      continue;
    }
    bool hidden = false;
    if (env) {
      const std::string stem = r.msgId.empty() ? std::string() : stemOf(r.msgId);
      if (bundles && !stem.empty() && stems.count(stem)) {
        hidden = false;
      } else if (MatchesFilter(r, *env)) {
        if (bundles && !stem.empty() && stems.insert(stem).second) {
          for (size_t j = k + 1; j < rows.size(); ++j)
            if (!rows[j].msgId.empty() && stemOf(rows[j].msgId) == stem) rows[j].searchState &= ~store::rsSearchMiss;
        }
      } else {
        hidden = true;
      }
    }
    r.searchState = hidden ? (r.searchState | store::rsSearchMiss) : (r.searchState & ~store::rsSearchMiss);
  }
  for (const store::DocRecord& r : rows)
    if (!(r.searchState & store::rsSearchMiss)) ++visible;
  return visible;
}

}  // namespace px::search
