#pragma once
// The small one-entry-per-line list files of the data root (unread.lst, newmail.lst, ...).
#include "foundation/file_status.h"
#include "foundation/types.h"

#include <string>

namespace px::store {

// The file's lines (CR LF, LF or CR line ends); empty lines are kept except a final one.
// A missing or unreadable file gives no lines.
StringList ReadListFile(const std::string& path);
// The lines of a list file's text, split as ReadListFile splits them.
StringList SplitListText(const std::string& text);

// Writes the lines with CR LF ends, atomically: a temporary file in the same folder, flushed to
// disk, then renamed over the old file. On failure the old file is left as it was.
FileStatus SaveListFile(const std::string& path, const StringList& lines);

}  // namespace px::store
