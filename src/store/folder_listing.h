#pragma once
// Folder listing: one folder on disk together with its index file becomes the list of document
// records that the grid shows, the search runs over and every document operation starts from.
//
// Files: every regular file of the folder that is not hidden (dot-files, the index file in any
// letter case) is listed once, with the index section of its name (compared without regard to
// case). Directories, FIFOs, sockets, devices, dangling links and links that lead out of the
// folder are skipped. Sections with a tag prefix add rows of their own:
//   "$$$AB." + name    a contact of the contacts folder (its data comes from the contacts index)
//   "$$$LNK." + name   a link to an entry of another folder (keys `Path`, `ID`)
//   "$$$xx." + name    a document of this folder stored with a tag prefix
// A tagged section whose target is gone is erased from the index; one whose target cannot be
// checked (its folder is missing, or it names a foreign path such as "C:\...") is kept.
// Plain sections whose file is gone are left alone: the operations that remove files remove
// their sections.
#include "foundation/types.h"
#include "store/doc_record.h"
#include "store/index_file.h"
#include "store/listing_context.h"

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {

// A listable file of a folder.
struct FolderFile {
  std::string name;
  uint64_t size = 0;
  DateTime date = 0;  // modification time (local); never 0
};

// The listable files of `folder` (see above), in directory order. error receives the errno of
// opening the folder (0 when it could be read).
std::vector<FolderFile> EnumerateFolderFiles(const std::string& folder, int* error = nullptr);
// Whether folder + name is a listable file; fills *out when it is.
bool StatListableFile(const std::string& folder, std::string_view name, FolderFile* out = nullptr);
// Hidden: a dot-file or an index file.
bool IsHiddenFileName(std::string_view name);
// A path this program cannot check: anything that is not an absolute Linux path ("C:\...",
// "\\server\...", a relative path).
bool IsForeignPath(std::string_view path);

// What one listing did.
struct ListingResult {
  size_t added = 0;          // records appended to rows
  size_t erased = 0;         // stale tagged sections erased from the index
  int folderError = 0;       // errno of reading the folder (0 = read)
  IniStatus saveStatus;      // saving the index after erasures
  int64_t unread = -1;       // the folder's reconciled unread count (-1: not reconciled)
  bool busyShown = false;    // the busy display was switched on
};

// Builds a record from the lines of an index section (key=value; keys without regard to case,
// keys and values trimmed, a later line overriding an earlier one). The file date is replaced
// by `Time` for mail; the shown address is computed with lookup.
DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         std::span<const std::string_view> lines, const AddressLookup& lookup);
DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         const StringList& lines, const AddressLookup& lookup);
// The same into a fresh (default) record, for building rows in place.
void FillDocRecord(DocRecord& rec, std::string_view folder, std::string_view name, std::string_view prefix,
                   std::string_view target, uint64_t size, DateTime fileDate,
                   std::span<const std::string_view> lines, const AddressLookup& lookup);

// A contact row from the contacts index's lines: folder = the folder shown, dated now + 100000
// days, size 0; an address group (name ending in ".") gets the group marker extension and the
// shown address "(GROUP)", a contact "vcf" and its address; a title without "," gets one in
// front. furtherAddresses receives the index's `Addresses` (split), when asked for.
DocRecord BuildContactRecord(std::string_view folder, std::string_view prefix, std::string_view name,
                             const StringList& lines, DateTime now,
                             StringList* furtherAddresses = nullptr);

// Appends the records of `folder` (ending in "/") to rows. background is set when the search
// thread lists folders: the view filter is applied, and nothing is sorted or reconciled.
ListingResult FetchDocs(const ListingContext& ctx, bool background, const std::string& folder,
                        DocRows& rows);

// Fills rows from the contacts folder shown (the contacts root or an address-group folder
// below it) and sorts them for the contacts view. On the Contacts tab each contact with
// several detail lines or further addresses becomes a parent row keyed name + ":001" with one
// child row per further line.
ListingResult FetchContacts(const ListingContext& ctx, const std::string& folder, DocRows& rows);

// Sorts rows[first..] by the view's order and applies the view filter (the default when the
// context has no sort-and-filter step of its own).
void SortAndFilterListing(const ListingContext& ctx, DocRows& rows, bool contactsView, size_t first = 0);

// The unread count of the records rows[first..]: unread entries of the folder, an unread part
// 2 or higher of a bundle whose part 1 is listed counting with its message. Links (rows of
// another folder's entries) do not count.
int64_t CountUnread(const DocRows& rows, size_t first = 0);
// The same over rows[first..last).
int64_t CountUnread(const DocRows& rows, size_t first, size_t last);

// Folders that hold pending outgoing mail, kept with their letter case.
class PendingFolders {
public:
  bool Contains(std::string_view folder) const { return folders_.count(std::string(folder)) > 0; }
  void Add(std::string folder) { folders_.insert(std::move(folder)); }
  void Clear() { folders_.clear(); }
  size_t Size() const { return folders_.size(); }
  const std::set<std::string>& Folders() const { return folders_; }

private:
  std::set<std::string> folders_;
};

// Rebuilds the pending-folder list from the outgoing register (`sent.ini`): every pending
// entry whose file is still there marks its folder; an entry whose file is gone from a folder
// that exists is erased (and the register saved). Entries that cannot be checked are kept.
IniStatus RefreshPendingFolders(TPXCustomIni& sentIni, PendingFolders& pending);

}  // namespace px::store
