#pragma once
// The blocked senders, kept for the whole run and stored as `blacklist.lst` in the data root:
// one bare, lower-case address per line, users of the mail service by their user name alone.
// Mail from a blocked sender is never downloaded. The main thread changes the list; receive
// workers read it, so every access is locked.
#include "foundation/types.h"

#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace px::incoming {

inline constexpr std::string_view kBlockedSendersFile = "blacklist.lst";

// The stored form of a sender: the bare address (display name and angle brackets gone), the
// service mail domain stripped, lower-cased. "" when nothing is left.
std::string BlockedForm(std::string_view sender);

// "Messages from %1 will blocked. ..." with %1 = who.
std::string BlockNotice(std::string_view who);

class BlockedSenders {
public:
  BlockedSenders() = default;

  // A missing or unreadable file gives an empty list; empty lines are dropped. The list then
  // belongs to the file: Block and Unblock save it at once.
  void Load(const std::string& file);
  // Writes the whole list (atomically); errors are ignored as the list files' errors are, but
  // reported for whoever wants to know. The list in memory is never changed by a failure.
  bool Save(const std::string& file) const;

  bool IsBlocked(std::string_view sender) const;
  // Adds the sender's stored form; returns it ("" when the sender has no address).
  std::string Block(std::string_view sender);
  // Removes the entries (stored forms or senders); returns how many went.
  size_t Unblock(const StringList& entries);
  StringList Entries() const;
  size_t Size() const;

private:
  void SaveToOwnFile() const;
  mutable std::mutex mutex_;
  std::set<std::string> entries_;
  std::string file_;
};

}  // namespace px::incoming
