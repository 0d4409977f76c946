#include "search/search_engine.h"

#include "search/extractor.h"

#include <algorithm>

namespace px::search {

class MatchSink final : public TextSink {
public:
  explicit MatchSink(KeywordMatcher& m) : m_(m) {}
  bool Put(std::string_view utf8) override {
    buf_.append(utf8);
    while (buf_.size() >= kWindow) {
      if (m_.Feed(std::string_view(buf_).substr(0, kWindow), fed_, true)) return false;
      fed_ = true;
      // Keep the overlap, starting on a whole character.
      size_t keepFrom = kWindow - std::min(kWindow, m_.Overlap());
      while (keepFrom < buf_.size() && (static_cast<unsigned char>(buf_[keepFrom]) & 0xC0) == 0x80) ++keepFrom;
      buf_.erase(0, keepFrom);
    }
    return true;
  }
  void Finish() {
    if (!buf_.empty() && !m_.Decided()) m_.Feed(buf_, fed_, false);
    buf_.clear();
  }

private:
  static constexpr size_t kWindow = 1 << 20;
  KeywordMatcher& m_;
  std::string buf_;
  bool fed_ = false;
};

void TSearchEngine::Configure(unsigned flags, std::vector<std::string> keywords) {
  flags_ = flags;
  keywords_ = std::move(keywords);
}

FileAnswer TSearchEngine::SearchFile(const std::string& path) const {
  FileAnswer a;
  KeywordMatcher m(keywords_, flags_);
  if ((flags_ & SF_ANYSTRINGS) && !m.HasKeywords()) {
    return a;  // nothing to find: no file can match
  }
  MatchSink sink(m);
  const ExtractStatus st = ExtractText(path, sink, flags_ & SF_SCANOTHERFORMATS);
  if (!st.ok) {
    a.unreadable = true;
    a.error = st.error;
    return a;
  }
  sink.Finish();
  a.match = m.Result();
  return a;
}

}  // namespace px::search
