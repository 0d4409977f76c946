#pragma once
// The model behind the Mail Sorting window: the rules in file order, the chosen rule and its
// conditions, each change written into the rules at once; Close saves the file.
#include <string>
#include <vector>

#include "incoming/mail_sort.h"
#include "incoming/mail_sort_apply.h"

namespace px::incoming {

// "\"From\", \"To\" or \"Cc\" includes \"ann\"" and the like.
std::string ConditionText(const SortCondition& c);

class MailSortModel {
public:
  MailSortModel(MailSortRules& rules, std::string documentsFolder, std::string trashFolder);

  size_t Count() const { return rules_.Rules().size(); }
  const SortRule& At(size_t i) const { return rules_.Rules().at(i); }
  // A new rule ("Rule 001", moving into folder, or deleting when the folder is the documents
  // folder); returns its row.
  size_t New(const std::string& folder);
  void Delete(size_t row);
  bool Rename(size_t row, const std::string& name);
  void SetEnabled(size_t row, bool on);
  void SetAction(size_t row, char action, const std::string& folder);
  void SetAll(size_t row, bool all);
  // Moves the rule one place up (-1) or down (+1): rules are tried in this order. New row.
  size_t MoveBy(size_t row, int delta);
  // Conditions: the value is stored in its stored form. A valid condition saved on a disabled
  // rule that has only it enables the rule.
  void SetCondition(size_t row, size_t index, const SortCondition& c);
  void AddCondition(size_t row, const SortCondition& c);
  void DeleteCondition(size_t row, size_t index);

  // Which messages of the folder the rule would take.
  ApplyRulesResult Test(size_t row, store::IniRegistry& registry, const std::string& folder) const;
  bool Save() const { return rules_.Save(); }

private:
  SortRule& rule(size_t row) { return rules_.MutableRules().at(row); }
  MailSortRules& rules_;
  std::string documents_, trash_;
};

}  // namespace px::incoming
