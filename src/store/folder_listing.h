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
#include "store/folder_files.h"
#include "store/record_builder.h"
#include "store/index_file.h"
#include "store/listing_context.h"

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {

// What one listing did.
struct ListingResult {
  size_t added = 0;          // records appended to rows
  size_t erased = 0;         // stale tagged sections erased from the index
  int folderError = 0;       // errno of reading the folder (0 = read)
  FileStatus saveStatus;      // saving the index after erasures
  int64_t unread = -1;       // the folder's reconciled unread count (-1: not reconciled)
};

// Appends the records of `folder` (ending in "/") to rows. The caller shows the busy display
// and stops a background search before listing the shown folder. background is set when the search
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
// The same rule over a folder's index alone (without looking at its files): what operations
// use to keep a folder's count in step with what its listing will find.
int64_t CountUnreadEntries(const TPXCustomIni& index);

}  // namespace px::store
