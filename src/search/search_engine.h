#pragma once
// TSearchEngine: does the text of a file hold the keywords? Each file's text comes from its reader
// (search/extractor.h) in pieces and is matched in windows of 1 MiB that overlap by the matcher's
// Overlap(), so memory stays bounded by the window whatever the file's size, and reading stops at
// the first window that decides. Safe to use from several threads at once once configured.
#include "search/text_matcher.h"

#include <string>
#include <vector>

namespace px::search {

struct FileAnswer {
  bool match = false;
  bool unreadable = false;  // the file could not be opened or read
  int error = 0;            // errno then
};

class TSearchEngine {
public:
  // The panel's options (SF_*) and keywords, in typed order.
  void Configure(unsigned flags, std::vector<std::string> keywords);
  unsigned Flags() const { return flags_; }
  const std::vector<std::string>& Keywords() const { return keywords_; }

  FileAnswer SearchFile(const std::string& path) const;

private:
  unsigned flags_ = 0;
  std::vector<std::string> keywords_;
};

// Matches text handed in pieces, window by window (the sink every reader writes into).
class MatchSink;

}  // namespace px::search
