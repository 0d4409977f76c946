#pragma once
// Choosing free file names in a folder and free section names in an index.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace px {
class RandomSource;
class TPXCustomIni;
}

namespace px::store {

// Longest file name the file systems here accept, in bytes.
inline constexpr size_t kMaxNameBytes = 255;
// Longest path passed to the system, in bytes (PATH_MAX less the terminating NUL).
inline constexpr size_t kMaxPathBytes = 4095;

// s cut to at most maxBytes bytes without splitting a UTF-8 character.
std::string CutUtf8(std::string_view s, size_t maxBytes);

// The names present in one folder, compared without regard to case (as the index compares
// section names), read once and then kept up to date by whoever changes the folder. Keeps the
// last " (n)" handed out per base name so that filing many documents of one title does not
// test every number from 2 upwards each time.
class FolderNames {
public:
  // Reads the folder (every entry, hidden ones included). A missing folder reads as empty.
  explicit FolderNames(std::string folder);
  const std::string& Folder() const { return folder_; }
  bool Contains(std::string_view fileName) const;
  // The name as it exists on disk with the same folded form ("" when none).
  std::string Existing(std::string_view fileName) const;
  void Add(std::string_view fileName);
  void Remove(std::string_view fileName);

  uint64_t Hint(const std::string& key) const;
  void SetHint(const std::string& key, uint64_t n);

private:
  std::string folder_;
  std::unordered_map<std::string, std::string> names_;  // folded -> as on disk
  std::unordered_map<std::string, uint64_t> hints_;
};

struct UniqueName {
  bool ok = false;
  std::string name;      // without extension
  std::string title;     // the title with the same " (n)" suffix
  std::string fileName;  // name + "." + ext (name alone when ext is empty)
  int error = 0;         // ENAMETOOLONG when the folder and extension leave no room
};

// UniqueFileName: the file name made from title (SafeFileName), shortened so the name fits in
// 255 bytes and the path in the system's limit, and numbered " (n)" until no entry of the folder
// has that name (without regard to case). A title ending in " (n)" starts counting at n.
// `self` is a name the caller owns and may reuse (a document being renamed).
UniqueName UniqueFileName(FolderNames& names, std::string_view title, std::string_view ext,
                          std::string_view self = {});
// The same on a fresh reading of the folder.
UniqueName UniqueFileName(const std::string& folder, std::string_view title, std::string_view ext);

// UniqueSectionPrefix: "" (or "$$$1." when tagged) when no section prefix + name exists,
// else "$$$" + a random number below 10000 + "."; gives up after a bounded number of tries
// (std::nullopt) instead of looping.
std::optional<std::string> UniqueSectionPrefix(const TPXCustomIni& index, std::string_view name,
                                               bool tagged, RandomSource& random);

}  // namespace px::store
