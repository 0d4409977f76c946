#pragma once
// The keys of the messages the filer has taken in, so that a message that arrives a second time
// is dropped instead of filed twice: a POP3 message fetched again because its deletion was never
// committed, a mail-service message whose confirmation was lost, an upload the sender made twice
// because the service never told it that the first one was stored.
//
// A key is recorded once the message's pairs are in the spool and before its source file is
// deleted, so a crash in between leaves both and the next run knows which of them is done.
//
// The file (the spool's ".received.keys") is a log of lines "yyyymmdd<TAB>key", appended and
// flushed in batches; keys older than kKeepDays are dropped when it is read. It is only read
// and written by the filer that holds the spool's filing lock.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace px::incoming {

inline constexpr std::string_view kReceivedKeysName = ".received.keys";
inline constexpr int kKeepDays = 60;

class ReceivedKeys {
public:
  // Reads the log; a torn last line (a crash while appending) is cut off. False with *error
  // when it cannot be read (then nothing is recorded and every key counts as new).
  bool Load(const std::string& path, std::string* error = nullptr);
  bool Contains(std::string_view key) const;
  // Remembered at once; written by the next Flush.
  void Add(std::string_view key);
  // Appends what was added and flushes it to the disk; false (with errno kept) when it could
  // not be written, and then the keys count as not recorded.
  bool Flush(std::string* error = nullptr);
  bool pending() const { return !pending_.empty(); }

private:
  std::string path_;
  std::unordered_set<std::string> keys_;
  std::vector<std::string> pending_;
  bool sync_ = true;

public:
  void setSync(bool on) { sync_ = on; }
};

// The key of a mail-service message: who sent it and its message id with the part.
std::string ServiceMessageKey(std::string_view sender, std::string_view msgId);

}  // namespace px::incoming
