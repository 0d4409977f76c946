// OpenDocument (content.xml) and Office Open XML (word/document.xml with its headers, footers and
// notes; the shared strings of a workbook; the slides of a presentation). Runs and spans inside
// a paragraph join without a break, so a word split across formatting is found whole.
#include "search/extractor.h"

#include <fcntl.h>
#include <pugixml.hpp>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace px::search {
namespace {

constexpr uint64_t kMaxPart = 128ull << 20;  // larger XML parts are left out
constexpr size_t kOutPiece = 64 * 1024;

bool wanted(DocKind kind, std::string_view name) {
  auto starts = [&](std::string_view p) { return name.substr(0, p.size()) == p; };
  auto ends = [&](std::string_view s) { return name.size() >= s.size() && name.substr(name.size() - s.size()) == s; };
  if (kind == DocKind::OpenDocument) return name == "content.xml";
  if (!ends(".xml")) return false;
  return name == "word/document.xml" || starts("word/header") || starts("word/footer") ||
         name == "word/footnotes.xml" || name == "word/endnotes.xml" ||
         name == "xl/sharedStrings.xml" || starts("ppt/slides/slide");
}

std::string_view localName(const char* name) {
  const char* colon = std::strchr(name, ':');
  return colon ? std::string_view(colon + 1) : std::string_view(name);
}

class TextWalker final : public pugi::xml_tree_walker {
public:
  explicit TextWalker(TextSink& sink) : sink_(sink) {}
  bool for_each(pugi::xml_node& node) override {
    const pugi::xml_node_type t = node.type();
    if (t == pugi::node_pcdata || t == pugi::node_cdata) {
      out_ += node.value();
    } else if (t == pugi::node_element) {
      const std::string_view n = localName(node.name());
      if (n == "p" || n == "h" || n == "br" || n == "line-break" || n == "cr" || n == "si") out_ += '\n';
      else if (n == "tab") out_ += '\t';
      else if (n == "s") out_ += ' ';
    }
    if (out_.size() >= kOutPiece) {
      if (!sink_.Put(out_)) stopped_ = true;
      out_.clear();
    }
    return !stopped_;
  }
  bool Finish() {
    if (!stopped_ && !out_.empty()) stopped_ = !sink_.Put(out_);
    out_.clear();
    return !stopped_;
  }

private:
  TextSink& sink_;
  std::string out_;
  bool stopped_ = false;
};

}  // namespace

ExtractStatus ExtractZipXml(const std::string& path, DocKind kind, TextSink& sink) {
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {false, errno};
    ::close(fd);
  }
  int zerr = 0;
  std::unique_ptr<zip_t, int (*)(zip_t*)> z(zip_open(path.c_str(), ZIP_RDONLY, &zerr), zip_close);
  if (!z) return ExtractPlain(path, sink);  // not a zip archive after all
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  bool any = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), 0);
    if (!name || !wanted(kind, name)) continue;
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> f(zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0), zip_fclose);
    if (!f) continue;
    std::string xml;
    char buf[65536];
    bool tooBig = false;
    while (true) {
      const zip_int64_t n = zip_fread(f.get(), buf, sizeof buf);
      if (n <= 0) break;
      if (xml.size() + static_cast<uint64_t>(n) > kMaxPart) {
        tooBig = true;
        break;
      }
      xml.append(buf, static_cast<size_t>(n));
    }
    if (tooBig) continue;
    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single)) continue;
    any = true;
    TextWalker w(sink);
    doc.traverse(w);
    if (!w.Finish()) return {};
  }
  if (!any) return ExtractPlain(path, sink);
  return {};
}

}  // namespace px::search
