#include "incoming/blocked_senders.h"

#include "foundation/address.h"
#include "foundation/strings.h"
#include "store/list_file.h"

namespace px::incoming {

namespace {
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
}  // namespace

std::string BlockedForm(std::string_view sender) {
  std::string bare = Trim(BareAddressOf(Trim(sender)));
  // A value that was never an address element ("<>", blanks) leaves nothing to block.
  if (!bare.empty() && bare.front() == '<') bare.erase(0, 1);
  if (!bare.empty() && bare.back() == '>') bare.pop_back();
  return Lower(StripServiceDomain(Lower(Trim(bare))));
}

void BlockedSenders::Load(const std::string& file) {
  std::set<std::string> fresh;
  for (const auto& line : store::ReadListFile(file)) {
    std::string e = BlockedForm(line);
    if (!e.empty()) fresh.insert(std::move(e));
  }
  std::lock_guard lock(mutex_);
  entries_ = std::move(fresh);
  file_ = file;
}

void BlockedSenders::SaveToOwnFile() const {
  std::string file;
  {
    std::lock_guard lock(mutex_);
    file = file_;
  }
  if (!file.empty()) Save(file);  // write errors are ignored, as for every small list
}

bool BlockedSenders::Save(const std::string& file) const {
  StringList lines = Entries();
  return store::SaveListFile(file, lines).ok();
}

bool BlockedSenders::IsBlocked(std::string_view sender) const {
  std::string key = BlockedForm(sender);
  if (key.empty()) return false;
  std::lock_guard lock(mutex_);
  return entries_.count(key) != 0;
}

std::string BlockedSenders::Block(std::string_view sender) {
  std::string key = BlockedForm(sender);
  if (key.empty()) return key;
  {
    std::lock_guard lock(mutex_);
    entries_.insert(key);
  }
  SaveToOwnFile();
  return key;
}

size_t BlockedSenders::Unblock(const StringList& entries) {
  size_t n = 0;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries) n += entries_.erase(BlockedForm(e));
  }
  if (n > 0) SaveToOwnFile();
  return n;
}

StringList BlockedSenders::Entries() const {
  std::lock_guard lock(mutex_);
  return StringList(entries_.begin(), entries_.end());
}

size_t BlockedSenders::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::string BlockNotice(std::string_view who) {
  return SubstituteArgs(
      "Messages from %1 will blocked. You will not receive any messages from them until you unblock "
      "them in E-mail Blocking section of Options.",
      {std::string(who)});
}

}  // namespace px::incoming
