#include "incoming/mail_sort_model.h"

#include <utility>

namespace px::incoming {

std::string ConditionText(const SortCondition& c) {
  if (c.fields == "#") return "(New condition)";
  if (!c.Valid()) return "(Invalid condition)";
  std::vector<std::string> names;
  for (char f : c.fields) {
    switch (f) {
      case 'F': names.push_back("From"); break;
      case 'T': names.push_back("To"); break;
      case 'C': names.push_back("Cc"); break;
      case 'B': names.push_back("Bcc"); break;
      case 'S': names.push_back("Subject"); break;
      case 'X': names.push_back("Text"); break;
      case 'A': names.push_back("Account"); break;
      default: break;
    }
  }
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? (c.includes ? " or " : " and ") : ", ";
    out += "\"" + names[i] + "\"";
  }
  out += c.includes ? " includes " : " does not include ";
  out += "\"" + c.value + "\"";
  return out;
}

MailSortModel::MailSortModel(MailSortRules& rules, std::string documentsFolder, std::string trashFolder)
    : rules_(rules), documents_(std::move(documentsFolder)), trash_(std::move(trashFolder)) {}

size_t MailSortModel::New(const std::string& folder) {
  SortRule r;
  r.name = rules_.NewRuleName();
  r.action = 'M';
  r.folder = folder.empty() || folder == documents_ ? trash_ : folder;
  rules_.MutableRules().push_back(std::move(r));
  return Count() - 1;
}

void MailSortModel::Delete(size_t row) {
  auto& all = rules_.MutableRules();
  if (row < all.size()) all.erase(all.begin() + static_cast<std::ptrdiff_t>(row));
}

bool MailSortModel::Rename(size_t row, const std::string& name) {
  if (name.empty()) return false;
  rule(row).name = name;
  return true;
}

void MailSortModel::SetEnabled(size_t row, bool on) { rule(row).enabled = on; }

void MailSortModel::SetAction(size_t row, char action, const std::string& folder) {
  SortRule& r = rule(row);
  r.action = action;
  r.folder = action == 'D' ? std::string() : folder;
  if (action != 'D' && !r.folder.empty() && r.folder.back() != '/') r.folder += '/';
}

void MailSortModel::SetAll(size_t row, bool all) { rule(row).all = all; }

size_t MailSortModel::MoveBy(size_t row, int delta) {
  auto& all = rules_.MutableRules();
  const long to = static_cast<long>(row) + delta;
  if (row >= all.size() || to < 0 || to >= static_cast<long>(all.size())) return row;
  std::swap(all[row], all[static_cast<size_t>(to)]);
  return static_cast<size_t>(to);
}

void MailSortModel::SetCondition(size_t row, size_t index, const SortCondition& c) {
  SortRule& r = rule(row);
  if (index >= r.conditions.size()) return;
  SortCondition stored = c;
  stored.value = StoredConditionValue(c.fields, c.value);
  r.conditions[index] = stored;
  if (!r.enabled && r.conditions.size() == 1 && stored.Valid()) r.enabled = true;
}

void MailSortModel::AddCondition(size_t row, const SortCondition& c) {
  rule(row).conditions.push_back(SortCondition{"#", true, ""});
  SetCondition(row, rule(row).conditions.size() - 1, c);
}

void MailSortModel::DeleteCondition(size_t row, size_t index) {
  auto& cs = rule(row).conditions;
  if (index < cs.size()) cs.erase(cs.begin() + static_cast<std::ptrdiff_t>(index));
}

ApplyRulesResult MailSortModel::Test(size_t row, store::IniRegistry& registry, const std::string& folder) const {
  return TestRulesOnFolder(rules_, registry, folder, &At(row));
}

}  // namespace px::incoming
