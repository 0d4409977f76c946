#pragma once
// A run over many documents reports each kind of refusal or failure once, naming the documents
// it concerns (or their number when there are many), instead of one box per document.
#include "foundation/message_queue.h"

#include <string>
#include <vector>

namespace px::store {

inline constexpr size_t kNamesInRefusal = 10;

class RefusalBatch {
public:
  // Takes the messages waiting in `from` (the run's private queue) as raised by the item named
  // `item` ("" for the run itself), and empties it.
  void Take(MessageQueue& from, const std::string& item);
  // Queues one message per kind into `to`, in the order the kinds first came up.
  void Flush(MessageQueue& to);
  bool Empty() const { return groups_.empty(); }

private:
  struct Group {
    MessageKind kind = MessageKind::Warning;
    std::string key;    // the text with the item's name taken out
    std::string first;  // the text as raised for the first item
    std::vector<std::string> items;
  };
  std::vector<Group> groups_;
};

// The text of a kind raised for several documents.
std::string BatchedText(const std::string& text, const std::vector<std::string>& items);

}  // namespace px::store
