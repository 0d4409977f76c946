#include "store/refusal_batch.h"

namespace px::store {

namespace {

std::string WithoutName(std::string text, const std::string& name) {
  if (name.empty()) return text;
  for (size_t pos = text.find(name); pos != std::string::npos; pos = text.find(name, pos))
    text.replace(pos, name.size(), "\x01");
  return text;
}

}  // namespace

void RefusalBatch::Take(MessageQueue& from, const std::string& item) {
  for (const std::string& entry : from.Pending()) {
    if (entry.empty()) continue;
    const auto kind = static_cast<MessageKind>(static_cast<unsigned char>(entry.back()));
    std::string text = entry.substr(0, entry.size() - 1);
    const std::string key = WithoutName(text, item);
    Group* g = nullptr;
    for (auto& candidate : groups_)
      if (candidate.kind == kind && candidate.key == key) g = &candidate;
    if (!g) {
      groups_.push_back(Group{kind, key, text, {}});
      g = &groups_.back();
    }
    if (!item.empty()) g->items.push_back(item);
  }
  from.Clear();
}

std::string BatchedText(const std::string& text, const std::vector<std::string>& items) {
  if (items.size() <= 1) return text;
  std::string out = text + "\r\r";
  if (items.size() <= kNamesInRefusal) {
    out += "This concerns " + std::to_string(items.size()) + " documents:";
    for (const auto& i : items) out += "\r     " + i;
  } else {
    out += "This concerns " + std::to_string(items.size()) + " documents, among them:";
    for (size_t i = 0; i < kNamesInRefusal / 2; ++i) out += "\r     " + items[i];
    out += "\r     ...";
  }
  return out;
}

void RefusalBatch::Flush(MessageQueue& to) {
  for (const auto& g : groups_) to.QueueMessage(g.kind, BatchedText(g.first, g.items));
  groups_.clear();
}

}  // namespace px::store
