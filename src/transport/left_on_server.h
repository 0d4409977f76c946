#pragma once
// "msgid.lst": one line per message that was fetched and is still on a server, so that a later
// run does not fetch it again. Lines are "user@* file" for the mail service and
// "user@host key" for POP3 accounts. Loaded when a receive run starts, saved when it ends (only
// when changed). Kept sorted; lookups are binary searches, so a mailbox of thousands of kept
// messages costs nothing per message.
#include "foundation/types.h"

#include <mutex>
#include <string>
#include <string_view>

namespace px::transport {

class LeftOnServerList {
public:
  LeftOnServerList() = default;
  explicit LeftOnServerList(std::string path) : path_(std::move(path)) {}

  void SetPath(std::string path);
  const std::string& path() const { return path_; }

  // Reads the file unless it was read already; a missing file gives an empty list.
  void LoadIfNeeded();
  bool loaded() const;
  // Writes the file when changed since the last load or save; false when the write failed
  // (the list stays marked changed). `error` gets the reason.
  bool SaveIfModified(std::string* error = nullptr);
  // Forgets the lines (the next LoadIfNeeded reads the file again).
  void Release();
  bool modified() const;

  bool Contains(std::string_view line) const;
  void Add(std::string_view line);
  void Remove(std::string_view line);
  // Removes every line that begins with `prefix`; returns how many.
  size_t RemovePrefix(std::string_view prefix);
  // Lines that begin with `prefix`, in order.
  StringList WithPrefix(std::string_view prefix) const;
  // Rewrites lines that begin with `from` to begin with `to` instead.
  size_t ReplacePrefix(std::string_view from, std::string_view to);
  size_t size() const;

private:
  mutable std::mutex mutex_;
  std::string path_;
  StringList lines_;  // sorted, unique
  bool loaded_ = false;
  bool modified_ = false;
};

}  // namespace px::transport
