#pragma once
// "Apply rules now": the sorting rules run over the messages already in a folder, and the
// rules window's test (the same walk without changing anything).
#include <string>
#include <vector>

#include "incoming/mail_sort.h"
#include "store/op_services.h"

namespace px::incoming {

struct RuleHit {
  std::string baseId;   // the message
  std::string title;    // its first part's title
  std::string sender;
  std::string rule;     // the rule that takes it
  char action = 'M';
  std::string folder;   // where it goes ("" for a delete)
};

struct ApplyRulesResult {
  std::vector<RuleHit> hits;           // in the folder's order, rules in file order
  size_t copied = 0, moved = 0, trashed = 0;  // messages
  std::vector<std::string> missingFolders;    // destinations that do not exist (nothing went there)
  std::vector<std::string> errors;
};

// Which rules take which messages of the folder. With `only`, just that rule is tried (enabled
// or not: the window tests a rule before it is ticked).
ApplyRulesResult TestRulesOnFolder(const MailSortRules& rules, store::IniRegistry& registry,
                                   const std::string& folder, const SortRule* only = nullptr);

// Runs the rules over the folder's messages: copies first, then a delete rule sends a message
// to the trash, else the first move rule whose folder exists moves it. A rule's destination
// equal to the folder itself is left alone.
ApplyRulesResult ApplyRulesToFolder(const MailSortRules& rules, const store::OpServices& services,
                                    const std::string& folder);

}  // namespace px::incoming
