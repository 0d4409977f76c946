#pragma once
// The mail spool: a plain folder of work files between the mail sources and the folders.
// Every file is written under a hidden temporary name and renamed into place without replacing
// anything, so a reader of the spool never sees half a file and no file is ever overwritten.
#include "foundation/atomic_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace px {
class RandomSource;
}

namespace px::mailformat {

// Spool file extensions.
inline constexpr std::string_view kRawExt = ".msg_";          // one raw message
inline constexpr std::string_view kDescriptorExt = ".$$1";    // part descriptor
inline constexpr std::string_view kContentExt = ".$$2";       // part content
inline constexpr std::string_view kEncryptedExt = ".$$3";     // encrypted part content
inline constexpr std::string_view kContainerExt = ".$$7";     // mail-service download
inline constexpr std::string_view kContainerDoneExt = ".$$8"; // its "complete" marker
inline constexpr std::string_view kFailedExt = ".err_";       // raw message that failed to split

class MailSpool {
public:
  // folder: the spool folder (created when missing); a trailing "/" is added when absent.
  MailSpool(std::string folder, RandomSource& random);

  const std::string& folder() const { return folder_; }
  std::string PathOf(std::string_view name, std::string_view ext) const;
  bool Exists(std::string_view name, std::string_view ext) const;

  // Names (without the extension) of the regular files with this extension, in name order.
  std::vector<std::string> List(std::string_view ext) const;

  // A fresh unique name that no spool file uses with any extension.
  std::string NewName();

  // Writes a whole file under a fresh or given name; false (with *error, and errno) when it
  // cannot.
  bool WriteFile(std::string_view name, std::string_view ext, std::string_view bytes,
                 std::string* error = nullptr);
  bool Remove(std::string_view name, std::string_view ext);
  // ".msg_" -> ".err_" of the same name (a unique suffix when that name is taken).
  bool MarkFailed(std::string_view name, std::string* error = nullptr);

  // When set (the default), files are flushed to the disk before they are renamed into place.
  void setSync(bool on) { sync_ = on; }
  bool sync() const { return sync_; }
  // Flushes the folder itself, so renames survive a crash.
  void SyncFolder() const;

  RandomSource& random() { return random_; }

private:
  std::string folder_;
  RandomSource& random_;
  bool sync_ = true;
};

// Writes one spool file in pieces. The data goes to a hidden temporary file; Commit() renames it
// into place, never over an existing file. An object destroyed without Commit() leaves nothing.
class SpoolFileWriter {
public:
  SpoolFileWriter() = default;
  ~SpoolFileWriter();
  SpoolFileWriter(const SpoolFileWriter&) = delete;
  SpoolFileWriter& operator=(const SpoolFileWriter&) = delete;

  bool Open(MailSpool& spool, std::string_view name, std::string_view ext);
  bool Write(std::string_view bytes);
  // Renames the file into place; when `name` is taken by then, fails with EEXIST (see error()).
  bool Commit();
  // Commits under another name (used after a name collision).
  bool CommitAs(std::string_view name);
  void Discard();
  bool isOpen() const { return file_ && file_->IsOpen(); }
  int error() const { return error_; }
  std::string errorText() const;
  uint64_t size() const { return size_; }

private:
  bool FlushBuffer();
  MailSpool* spool_ = nullptr;
  std::string name_, ext_;
  std::string buffer_;
  std::unique_ptr<AtomicFile> file_;
  int error_ = 0;
  bool retryable_ = false;  // the last commit met a taken name; the data is still there
  uint64_t size_ = 0;
};

// The spool name of a raw message from a mail account: base + "-h" + a digest of the message's
// key on its server (account and UIDL, or Message-ID), so the key travels with the file and a
// message fetched twice is known when it is filed.
std::string KeyedRawName(std::string_view base, std::string_view key);
// The digest part ("h" + 32 hex digits) of such a name; empty for any other name.
std::string RawKeyOf(std::string_view name);

// A failure of the machine rather than of the message: no room (ENOSPC, EDQUOT), a broken or
// read-only disk (EIO, EROFS), no memory or file handles. What met one is tried again later.
bool IsResourceError(int err);

// Renames src to dst unless dst exists (then false with errno EEXIST).
bool RenameNoReplace(const std::string& src, const std::string& dst);

}  // namespace px::mailformat
