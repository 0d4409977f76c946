#pragma once
// Plain text of a stored ".eml" document: the splitter's text-only mode, kept in memory.
#include <string>
#include <string_view>
#include <vector>

namespace px::mailformat {

struct EmlText {
  bool found = false;              // the first part is plain text
  std::vector<std::string> lines;  // its lines, in its own charset
  std::string charset;             // its charset ("" = the default)
};

// Runs the splitter in text-only mode and takes the first part produced: when its kind is
// "txt" its lines and charset are returned, otherwise nothing. The document is not changed and
// nothing is written to disk.
EmlText ExtractEmlText(const std::string& path);
EmlText ExtractEmlTextFromBytes(std::string_view bytes);

}  // namespace px::mailformat
