#pragma once
// A bookmark file in the Netscape HTML form ("bookmark.htm", also what Firefox and Thunderbird
// export): its folders become folders and its links Internet shortcuts (".url" files holding
// "[InternetShortcut]" and "URL=" + address), written into a folder of this program only, never
// into the other program's profile. Titles are decoded in one pass (named and numeric
// entities); names are made safe and unique, and where a name differs from its title the title
// goes into the folder's index. Folders nest at most 32 deep. A bookmark already there with the
// same title and address is not written again.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_source.h"

namespace px::store {
class IniRegistry;
}

namespace px::import {

struct BookmarkResult {
  int bookmarks = 0;  // shortcut files written (or, in a dry run, that would be)
  int folders = 0;    // folders made
  int known = 0;      // already there
  std::vector<SkippedItem> skipped;
};

// "News &amp; Weather&#33;" -> "News & Weather!": every entity once, left to right; unknown ones
// stay as they are; the result trimmed.
std::string DecodeTitle(std::string_view text);

// Reads the bookmark file into target (a folder, ending in "/", made when missing).
BookmarkResult ImportBookmarks(const std::string& bookmarkFile, const std::string& target, store::IniRegistry& registry,
                               bool dryRun = false);

}  // namespace px::import
