#pragma once
// The program's own INI class, its typed readers and the whole-file read.
//
// An INI file is held whole in memory by a TPXIniBase: sections sorted without regard to case
// (duplicates ignored, the first one wins), each with its key=value lines kept verbatim and in
// their stored order. Keys and section names compare without regard to case; values are
// returned as stored (not trimmed). Every base has its own mutex that serialises all reads and
// writes of it.
//
// Saving is atomic (temporary file in the same folder, flushed, renamed over the old one); the
// mode of an existing file is kept. A failed save leaves the old file untouched and is reported
// through FileStatus.
//
// A folder index is read only when something asks for its contents. Until then its changes are
// only recorded, and when they merely add sections the file does not hold yet (a new document's
// entry), the save appends those sections to the file under its lock instead of rewriting it,
// so adding entries costs the same in a folder of ten documents and of a hundred thousand. The
// file is a valid index at every moment: readers sort its sections as they load it, and the
// next full save writes it sorted again.
//
// Several processes may change one file at once (the desk, plumadex-cli, a second session): a
// save holds the file's lock (FileLock) and, when the file on disk is no longer the one that
// was loaded, reads it again and applies this copy's changes to it before writing, so nobody's
// entries are lost. A file the parser did not fully understand (binary bytes, a broken UTF-16
// text) is never overwritten: the first save puts it aside as "<name>.damaged-<date>" and says
// so once (TakeNotice). Text before the first section and later copies of a repeated section are
// written back as they were.
#include "foundation/file_status.h"
#include "foundation/types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace px {

// Whole-file read (the atomic save is SaveFileAtomic in atomic_file.h).
// Reads the whole file; error ENOENT when it does not exist, EFBIG when it is larger than
// `maxSize` bytes, EINVAL when it is not a regular file (a FIFO, a device, a folder: never
// waited on). With `noFollow` a symbolic link is not followed and reads as ELOOP.
// `info`, when given, receives the status of the file that was read.
FileStatus ReadWholeFile(const std::string& path, std::string& bytes, uint64_t maxSize = UINT64_MAX,
                        bool noFollow = false, struct stat* info = nullptr);
// Largest INI file that is loaded (a 100,000-entry mail folder needs about 30 MB). A bigger
// file reads as empty, reports EFBIG and is never overwritten.
inline constexpr uint64_t kMaxIniFileSize = 512ull << 20;

// The abstract INI interface, with the typed readers and writers built on the string ones, so
// code that reads settings can take either a shared handle or a standalone base.
class TPXCustomIni {
public:
  virtual ~TPXCustomIni() = default;

  virtual std::string FileName() const = 0;
  // Value of the first line of `section` whose key equals `key`; `def` when there is none.
  virtual std::string ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const = 0;
  // CR, LF and NUL in section, key or value become blanks.
  virtual void WriteString(std::string_view section, std::string_view key, std::string_view value) = 0;
  // Key names of the section's lines, in stored order.
  virtual void ReadSection(std::string_view section, StringList& keys) const = 0;
  // All section names in ascending case-insensitive order (also sections without lines).
  virtual void ReadSections(StringList& sections) const = 0;
  // The section's raw key=value lines.
  virtual void ReadSectionValues(std::string_view section, StringList& lines) const = 0;
  virtual void DeleteKey(std::string_view section, std::string_view key) = 0;
  virtual void EraseSection(std::string_view section) = 0;
  // True only when the section exists and has at least one line.
  virtual bool SectionExists(std::string_view section) const = 0;
  virtual bool ValueExists(std::string_view section, std::string_view key) const = 0;
  // Saves now when modified.
  virtual FileStatus UpdateFile() = 0;
  // The whole file as it would be saved: per section "[name]", its lines, one empty line.
  virtual void GetStrings(StringList& out) const = 0;
  // Calls fn for every section in sorted order with its lines. The file stays locked meanwhile:
  // fn may read this file but must not change it.
  virtual void ForEachSection(
      const std::function<void(std::string_view name, std::span<const std::string_view> lines)>& fn)
      const = 0;

  // Typed forms. Integers are decimal ("0x"/"$" hex accepted on reading); booleans are written
  // "0"/"1" and any non-zero integer reads as true; a value that does not parse gives the default.
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t def) const;
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Dates as "yyyy-mm-dd", times as "hh:nn:ss", date-times as "yyyy-mm-dd hh:nn:ss"; readers also
  // accept "mm/dd/yy[yy] [hh:nn[:ss]]". Floats use "." and the shortest exact form.
  DateTime ReadDate(std::string_view section, std::string_view key, DateTime def) const;
  void WriteDate(std::string_view section, std::string_view key, DateTime value);
  DateTime ReadTime(std::string_view section, std::string_view key, DateTime def) const;
  void WriteTime(std::string_view section, std::string_view key, DateTime value);
  DateTime ReadDateTime(std::string_view section, std::string_view key, DateTime def) const;
  void WriteDateTime(std::string_view section, std::string_view key, DateTime value);
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  void WriteFloat(std::string_view section, std::string_view key, double value);
  // Binary data as upper-case hex digits.
  std::string ReadBinary(std::string_view section, std::string_view key) const;
  void WriteBinary(std::string_view section, std::string_view key, std::string_view bytes);
};

// One INI file held in memory.
//
// Constructed from a path it loads the file at once (a missing file reads as empty), and
// UpdateFile rewrites the whole file. Used alone for `User.ini` and the other settings files;
// folder indexes share one base per file through the store's registry.
class TPXIniBase final : public TPXCustomIni {
public:
  explicit TPXIniBase(std::string path);
  // A folder index: a symbolic link, FIFO, device or folder in its place is unreadable (read as
  // empty, never written), so a save can never reach another file through it.
  enum class Kind { Settings, FolderIndex };
  TPXIniBase(std::string path, Kind kind);
  // Standalone use only: the destructor does not save. Call UpdateFile and look at its status.
  ~TPXIniBase() override;
  TPXIniBase(const TPXIniBase&) = delete;
  TPXIniBase& operator=(const TPXIniBase&) = delete;

  // Replaces the contents with the parsed text (CR LF, LF or CR line ends). Sets modified.
  void SetText(std::string_view text);
  // The file text as written (CR LF line ends).
  std::string Text() const;
  // Load status: error of reading the file, ok when it was read or does not exist.
  FileStatus LoadStatus() const;
  bool Modified() const;
  // Re-reads the file from disk, dropping unsaved changes.
  FileStatus Reload();
  size_t SectionCount() const;
  // The file as loaded was not fully understood: the next save keeps it aside first.
  bool Damaged() const;
  // What happened to a damaged file when it was put aside, once; empty otherwise.
  std::string TakeNotice();

  std::string FileName() const override;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const override;
  void WriteString(std::string_view section, std::string_view key, std::string_view value) override;
  void ReadSection(std::string_view section, StringList& keys) const override;
  void ReadSections(StringList& sections) const override;
  void ReadSectionValues(std::string_view section, StringList& lines) const override;
  void DeleteKey(std::string_view section, std::string_view key) override;
  void EraseSection(std::string_view section) override;
  bool SectionExists(std::string_view section) const override;
  bool ValueExists(std::string_view section, std::string_view key) const override;
  FileStatus UpdateFile() override;
  void GetStrings(StringList& out) const override;
  void ForEachSection(
      const std::function<void(std::string_view name, std::span<const std::string_view> lines)>& fn)
      const override;

private:
  // A section's lines, joined by '\n' (no line ever holds one). As loaded they stay in the
  // file's own buffer (loaded_); a section that is changed gets its own copy.
  // A big index holds 100,000 of these: the rare parts are kept apart.
  struct Section {
    std::unique_ptr<std::string> name;  // as first written or loaded, when it differs from the map key
    std::unique_ptr<std::string> own;   // the lines once changed
    uint32_t off = 0;        // the lines as loaded: loaded_[off, off + len)
    uint32_t len = 0;
    uint32_t count = 0;      // number of lines
    bool shared = false;     // the lines are in loaded_
    std::unique_ptr<std::string> repeats;  // later copies of this section, as file text
  };
  // A change made since the file was loaded or saved, applied again to a newer file on disk.
  struct Change {
    enum Op : uint8_t { Write, DeleteKey, Erase, Text } op;
    std::string section, key, value;
  };
  // What identifies one version of the file on disk (every save puts a new inode in place).
  struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0, ctimeNs = 0;
    bool operator==(const Stamp&) const = default;
  };
  // Map keys: an ASCII name as it is, any other name case-folded; keys order as their folded
  // forms (ASCII letters compare in lower case), so the map is sorted without regard to case.
  struct KeyLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  using SectionMap = std::map<std::string, Section, KeyLess>;

  void LoadLocked();
  // A folder index not read yet is read now, with the changes recorded meanwhile made on it.
  void EnsureLoadedLocked() const;
  // Appends the sections the recorded changes add, when that is all they do and the file holds
  // none of them; `appended` tells whether it did. Called with the file's lock held.
  FileStatus TryAppendLocked(bool& appended);
  FileStatus ReadLocked(std::string& text, Stamp& stamp, bool& damaged) const;
  Stamp StatLocked() const;
  static Stamp StampOf(const struct stat& st);
  FileStatus SaveLocked();
  FileStatus PutAsideLocked();
  void DropDamagedLinesLocked();
  void ParseLocked(std::string&& text);
  void ApplyWrite(std::string_view name, std::string_view key, std::string_view value);
  bool ApplyDeleteKey(std::string_view section, std::string_view key);
  bool ApplyErase(std::string_view section);
  void ReplayLocked(const std::vector<Change>& changes);
  const Section* FindLocked(std::string_view section) const;
  std::string_view linesOf(const Section& s) const {
    if (s.shared) return std::string_view(loaded_).substr(s.off, s.len);
    return s.own ? std::string_view(*s.own) : std::string_view();
  }
  static std::string_view nameOf(const SectionMap::value_type& entry) {
    return entry.second.name ? std::string_view(*entry.second.name) : std::string_view(entry.first);
  }

  mutable std::recursive_mutex mutex_;
  std::string fileName_;
  Kind kind_ = Kind::Settings;
  std::string loaded_;  // the text as loaded, compacted: the loaded sections' lines
  SectionMap sections_;
  bool modified_ = false;
  FileStatus loadStatus_;
  std::string preamble_;          // text before the first section, as written
  std::vector<Change> changes_;   // since the file was loaded or last saved
  Stamp stamp_;                   // the version on disk this copy was read from or saved as
  bool damaged_ = false;
  std::string notice_;
  std::string keptAside_;  // the copy of a damaged file, told of once the new file is written
  bool unread_ = false;    // a folder index whose file has not been read yet
};

}  // namespace px
