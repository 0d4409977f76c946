#include "mailformat/text_extract.h"

#include "mailformat/line_reader.h"
#include "mailformat/mime_reader.h"

namespace px::mailformat {

namespace {

// Keeps the first part in memory. The text of a message is bounded so a huge body cannot
// exhaust memory; the search and the viewer need no more than that.
constexpr size_t kMaxText = 64u << 20;

class FirstPartSink : public PartSink {
public:
  bool Begin() override {
    content_.clear();
    return true;
  }
  bool Write(std::string_view bytes) override {
    if (content_.size() < kMaxText) content_.append(bytes.substr(0, kMaxText - content_.size()));
    return true;
  }
  bool End(PartDescriptor d) override {
    descriptor_ = std::move(d);
    have_ = true;
    return true;
  }
  void Abort() override { content_.clear(); }
  bool Done() const override { return have_; }

  bool have_ = false;
  std::string content_;
  PartDescriptor descriptor_;
};

EmlText Extract(LineReader& in) {
  EmlText r;
  FirstPartSink sink;
  SplitOptions options;
  SplitMessage(in, sink, options, /*textOnly=*/true);
  if (!sink.have_ || sink.descriptor_.kind != "txt") return r;
  r.found = true;
  r.charset = ReadDescriptorTags(sink.descriptor_).Key("Charset");
  std::string_view c(sink.content_);
  size_t start = 0;
  while (start < c.size()) {
    size_t nl = c.find('\n', start);
    std::string_view l = c.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    r.lines.emplace_back(l);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return r;
}

}  // namespace

EmlText ExtractEmlText(const std::string& path) {
  LineReader in;
  if (!in.OpenFile(path)) return {};
  return Extract(in);
}

EmlText ExtractEmlTextFromBytes(std::string_view bytes) {
  LineReader in(64 * 1024);
  in.OpenMemory(bytes);
  return Extract(in);
}

}  // namespace px::mailformat
