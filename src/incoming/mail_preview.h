#pragma once
// The preview of mail on the server: the messages waiting on each account as a preview run
// listed them, the user's ticks, and the rows a later run received or deleted. The list
// changes only through the receive chain's reports (Listed, Handled) and through blocking,
// which takes the blocked senders' rows out; the window only shows it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transport/preview_item.h"

namespace px::incoming {

class BlockedSenders;

class MailPreviewList {
public:
  // A new preview starts: every item goes.
  void Clear();
  // The chain's reports. A listed row comes ticked; a second report of one key is ignored.
  void Listed(const transport::TMailPreviewItem& item);
  void Handled(const std::string& account, const std::string& key);

  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  // The accounts that have rows, in the order they first appeared.
  std::vector<std::string> Accounts() const;
  // An account's rows, oldest first (ties by part key, ignoring case).
  std::vector<const transport::TMailPreviewItem*> Rows(const std::string& account) const;

  void SetTicked(const std::string& account, const std::string& key, bool ticked);
  void TickAll(const std::string& account, bool ticked);
  bool AnyTicked(const std::string& account) const;
  // The ticked rows of an account, for a preview run's order.
  std::vector<transport::TMailPreviewItem> Ticked(const std::string& account) const;

  // Blocks the sender of every ticked row of the account (from the last row to the first) and
  // takes the rows out: their mail stays on the server and goes unread with the next run.
  // Returns the stored forms blocked, in that order, each once.
  std::vector<std::string> BlockTicked(const std::string& account, BlockedSenders& blocked);

  // Called after every change.
  std::function<void()> changed;

private:
  void notify() {
    if (changed) changed();
  }
  std::vector<transport::TMailPreviewItem> items_;
  std::vector<std::string> order_;  // accounts in order of first appearance
};

// The cells of a row, in UTF-8: sender and subject with their encoded words decoded in the
// row's charset; the received date in the locale's short date and time; the size in "K".
std::string PreviewSender(const transport::TMailPreviewItem& item);
std::string PreviewSubject(const transport::TMailPreviewItem& item);
std::string PreviewReceived(const transport::TMailPreviewItem& item);
std::string PreviewSize(int64_t size);
// The information shown after Block Selected (one address, or each on a line of its own).
std::string PreviewBlockedText(const std::vector<std::string>& storedForms);

}  // namespace px::incoming
