#pragma once
// The user's mail sorting rules, kept as `mailsort.lst` in the data root: one rule per line,
//
//   name|action|condition|condition...
//
// action: an optional "-" (disabled), "O" (any condition) or "A" (every condition), then "C"
// (copy), "M" (move) or "D" (delete); copy and move add a blank and the destination folder.
// condition: the field letters in the order "FTCBSXA" ("_" for none), a blank, "<" (includes)
// or ">" (does not include), a blank, the value ("|" stored as "!"; addresses stored bare,
// lower-cased, without the service mail domain).
//
// Filing asks the rules for every received message (SortingRules); a renamed or moved folder
// takes its rules along (store::SortingRuleLinks). A delete rule moves the message to the
// trash, never erases it. A line that cannot be read is named, kept out of the rules and
// written back unchanged, so nothing the user had is lost.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "incoming/filing_seams.h"
#include "store/op_services.h"

namespace px {
class MessageQueue;
}

namespace px::incoming {

inline constexpr std::string_view kMailSortFile = "mailsort.lst";
inline constexpr std::string_view kRuleFieldLetters = "FTCBSXA";

struct SortCondition {
  std::string fields;     // letters of "FTCBSXA" in that order, "_" when none
  bool includes = true;   // "<" includes, ">" does not include
  std::string value;
  bool operator==(const SortCondition&) const = default;
  // Only the known letters (or "_").
  bool Valid() const;
  bool HasAddressField() const;
};

struct SortRule {
  std::string name;
  bool enabled = true;
  bool all = false;       // "A": every condition must hold; "O": one is enough
  char action = 'M';      // 'C', 'M' or 'D'
  std::string folder;     // destination of 'C' and 'M' ("" for 'D')
  std::vector<SortCondition> conditions;
  bool operator==(const SortRule&) const = default;
};

// One line in its stored form and back. Parse gives nullopt (and *why) for a line it cannot read.
std::string FormatRule(const SortRule& rule);
std::optional<SortRule> ParseRule(std::string_view line, std::string* why = nullptr);
// A condition value in its stored form: "|" becomes "!", addresses are reduced.
std::string StoredConditionValue(std::string_view fields, std::string_view value);
// The stored form of an address (bare, lower-case, no service domain).
std::string RuleAddressForm(std::string_view address);

// The text of a message's body for the "X" condition. The default reads plain text, HTML and
// stored ".eml" documents; the search engine's extractor can take its place.
class RuleTextSource {
public:
  virtual ~RuleTextSource() = default;
  // The readable text of the file (kind: its extension without the dot); nullopt when none.
  virtual std::optional<std::string> TextOf(const std::string& path, std::string_view kind) = 0;
  // The text made ready for Matches, once per message (the default lower-cases it).
  virtual std::string Prepare(std::string text);
  // True when the prepared text holds every keyword (the value's lines); the default ignores case.
  virtual bool Matches(const std::string& prepared, const std::vector<std::string>& keywords);
};
class PlainRuleTextSource final : public RuleTextSource {
public:
  std::optional<std::string> TextOf(const std::string& path, std::string_view kind) override;
};

// What one message offers the rules.
struct RuleMessage {
  std::string sender;
  std::string to, cc, bcc, account;
  std::string subject;
  std::string bodyPath;   // "" when there is none
  std::string bodyKind;   // extension without the dot
};

struct LoadResult {
  size_t rules = 0;
  std::vector<std::string> badLines;  // "line N: text (why)"
};

class MailSortRules final : public SortingRules, public store::SortingRuleLinks {
public:
  MailSortRules();
  ~MailSortRules() override;

  // Reads the file; a missing file gives no rules. Bad lines are named in the result (and
  // queued as one warning when a message queue is set).
  LoadResult Load(const std::string& file);
  // Writes every rule (and the lines that could not be read) atomically; false on failure.
  bool Save() const;
  bool SaveAs(const std::string& file) const;
  const std::string& File() const { return file_; }

  void SetMessages(MessageQueue* messages) { messages_ = messages; }
  void SetTextSource(std::unique_ptr<RuleTextSource> source);
  // Where a message stays when its rule's folder is gone (shown in the notice).
  void SetDocumentsFolder(std::string folder) { documents_ = std::move(folder); }
  void SetTrashFolder(std::string folder) { trash_ = std::move(folder); }

  const std::vector<SortRule>& Rules() const { return rules_; }
  std::vector<SortRule>& MutableRules() { return rules_; }
  // Adds a rule (a line already there is not added twice); false when it was there.
  bool Add(const SortRule& rule);
  // Removes the rules of that name (ignoring case); how many went.
  size_t Remove(std::string_view name);
  // "Rule 001", "Rule 002", ...: the first such name no rule has.
  std::string NewRuleName() const;

  // Does the rule take this message? (Disabled rules never do.)
  bool RuleMatches(const SortRule& rule, const RuleMessage& m) const;
  // The names of the rules of a kind ('C', 'M', 'D') that take the message, in file order.
  std::vector<const SortRule*> Matching(char kind, const RuleMessage& m) const;

  // The filer's question: copy rules, then move rules, then delete rules.
  void Evaluate(const SortInput& message, std::vector<SortAction>& actions) override;

  // Retargets the rules below oldFolder (rules with conditions only); saves when one changed.
  std::vector<std::string> FolderMoved(const std::string& oldFolder, const std::string& newFolder) override;

  // Quick sort: "F < address" for each address into the last rule moving to folder (with
  // conditions), or a new "Quick Sort for <name>" rule. Saves, and returns the rule's name.
  std::string QuickSort(const std::vector<std::string>& addresses, const std::string& folder);

private:
  bool MatchesCondition(const SortCondition& c, const RuleMessage& m) const;
  bool TextHolds(const RuleMessage& m, const std::string& value) const;
  void NoteMissingFolder(const SortRule& rule);

  std::vector<SortRule> rules_;
  std::vector<std::string> unreadable_;  // lines kept as they were
  std::string file_;
  std::string documents_, trash_;
  MessageQueue* messages_ = nullptr;
  std::unique_ptr<RuleTextSource> text_;
  // The body text of the message being evaluated, read once for all its rules.
  mutable std::string cachedPath_;
  mutable std::optional<std::string> cachedText_;
  std::set<std::string> warnedMissing_;
  // Reduced addresses (values and the message's own), and the message's address lists.
  mutable std::map<std::string, std::string, std::less<>> forms_;
  mutable std::map<std::string, std::vector<std::string>, std::less<>> lists_;
  const std::string& FormOf(const std::string& address) const;
  bool ListHolds(const std::string& list, const std::string& value) const;
};

// The message of a stored document, for "Apply rules now" and the rules window's test.
RuleMessage RuleMessageOfEntry(const std::string& folder, const std::string& fileName,
                               const std::vector<std::pair<std::string, std::string>>& keys);

}  // namespace px::incoming
