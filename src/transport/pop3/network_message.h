#pragma once
// Writes a message received from a mail server into the spool, a line at a time. Header lines
// that would steer filing (a folder, an account, the program's mark) are neutralised, since
// anybody can put them into a mail; then the receiver's own account line is added as the last
// header line, where the MIME reader looks for it. The Message-ID and From headers are picked
// up on the way.
#include <cstdint>
#include <string>
#include <string_view>

#include "mailformat/spool.h"

namespace px::transport::pop3 {

// Picks the first Message-ID and From values out of header lines, unfolded and trimmed, at
// most 4 KiB each.
struct HeaderScan {
  void Add(std::string_view line);  // one header line (not the empty line that ends the header)
  void Finish();                    // after the last line
  std::string messageId, from;
  // A digest of the header lines, to tell messages without a Message-ID apart.
  uint64_t digest = 1469598103934665603ull;

private:
  int current_ = 0;
  std::string value_;
  bool seenId_ = false, seenFrom_ = false;
};

class NetworkMessageWriter {
public:
  // Opens a fresh ".msg_" file in the spool (a hidden temporary until Commit).
  bool Open(mailformat::MailSpool& spool, std::string_view account);
  // One line with its line end (the last line may lack one).
  bool Line(std::string_view line);
  // Ends the header when the message had no empty line, flushes the file to the disk and
  // renames it into place. The path is then Path(). With a `key` (the message's key on its
  // server) the spool name carries it (KeyedRawName), so the filer drops a second copy.
  bool Commit(std::string_view key = {});
  void Discard();
  std::string Path() const { return path_; }
  std::string Name() const { return name_; }
  const std::string& errorText() const { return error_; }
  uint64_t size() const { return writer_.size(); }

  // Header values seen (unfolded, trimmed; at most 4 KiB each).
  const std::string& messageId() const { return scan_.messageId; }
  const std::string& from() const { return scan_.from; }
  uint64_t HeaderDigest() const { return scan_.digest; }

private:
  mailformat::MailSpool* spool_ = nullptr;
  mailformat::SpoolFileWriter writer_;
  std::string account_;
  std::string name_, path_, error_;
  bool inHeader_ = true;
  bool lastEndedLine_ = true;
  HeaderScan scan_;
};

// Reads a header block (as TOP n 0 returns it) up to its empty line.
HeaderScan ScanHeader(std::string_view header);

// Messages are written without a flush each and made durable together before the server is
// told to delete them: one flush of the spool's file system per batch instead of two per
// message.
inline constexpr size_t kBatchMessages = 64;
inline constexpr uint64_t kBatchBytes = 32ull * 1024 * 1024;

// Flushes the spool's file system to the disk; false with `error` when it failed.
bool SyncSpool(const mailformat::MailSpool& spool, std::string& error);
// Whether the spool's disk still has room to split a message of `bytes` once it is filed.
bool RoomToFile(const mailformat::MailSpool& spool, uint64_t bytes);

// Turns the spool's flush of every file off while one account is received (batches are flushed
// together instead), and back on afterwards.
class BatchedSync {
public:
  explicit BatchedSync(mailformat::MailSpool& spool) : spool_(spool), was_(spool.sync()) { spool.setSync(false); }
  ~BatchedSync() { spool_.setSync(was_); }
  bool enabled() const { return was_; }

private:
  mailformat::MailSpool& spool_;
  bool was_;
};

}  // namespace px::transport::pop3
