#pragma once
// Outlook Express stores: the folder list "folders.dbx" and the message folder files "*.dbx".
// Every structure is found by following file offsets, and nothing found that way is trusted:
// each read is bounded by the file's size, a folder record's body by min(its length, 1,024),
// property lists and block lengths are capped and checked, the trees are walked with an
// explicit stack (a hostile file cannot exhaust the call stack) and a hash set of visited
// offsets ends loops.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace px::import {

// The bytes of a file, read at offsets: an open file, or memory (tests, fuzzing).
class DbxBytes {
public:
  static DbxBytes OfMemory(std::string_view bytes);
  // Opens the file read only, without following a symbolic link; false when it cannot.
  bool Open(const std::string& path);
  DbxBytes() = default;
  ~DbxBytes();
  DbxBytes(const DbxBytes&) = delete;
  DbxBytes& operator=(const DbxBytes&) = delete;
  DbxBytes(DbxBytes&& o) noexcept;

  uint64_t size() const { return size_; }
  // Exactly n bytes at off, or false (never past the end).
  bool Read(uint64_t off, void* out, size_t n) const;
  bool U32(uint64_t off, uint32_t& v) const;

private:
  int fd_ = -1;
  std::string_view mem_;
  uint64_t size_ = 0;
};

struct DbxFolder {
  std::vector<std::string> names;  // from the top ("Local Folders" left out), raw names
  std::string file;                // the folder's message file name, "" when it has none
  bool tickedAtFirst = true;       // "Deleted Items" and "Outbox" are not
};

inline constexpr uint64_t kMaxDbxMessage = 64u << 20;  // a longer message text is cut off there

// The folders of a folder list, parents before children; only the "Local Folders" store (news
// servers and other top-level stores are left out). Empty on a wrong signature.
std::vector<DbxFolder> ReadDbxFolders(const DbxBytes& file);

// The number of messages a folder file's header says (0 when negative or unreadable).
int64_t DbxMessageCount(const DbxBytes& file);

// Calls each with the text of every message of a folder file, in tree order, until it returns
// false. False on a wrong signature. Messages longer than kMaxDbxMessage are cut there and
// counted in *cut.
bool ForEachDbxMessage(const DbxBytes& file, const std::function<bool(std::string_view text)>& each,
                       uint64_t* cut = nullptr);

}  // namespace px::import
