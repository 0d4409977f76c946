// PDF files: the text of each page through poppler, a page at a time. A file poppler cannot
// open (damaged, or locked with a password) is scanned as plain bytes.
#include "search/extractor.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace px::search {
namespace {

void quiet(const std::string&, void*) {}

}  // namespace

ExtractStatus ExtractPdf(const std::string& path, TextSink& sink) {
  {
    // Unreadable files report their error as the other readers do.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {false, errno};
    ::close(fd);
  }
  static const bool silenced = [] {
    poppler::set_debug_error_function(quiet, nullptr);
    return true;
  }();
  (void)silenced;
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
  if (!doc || doc->is_locked()) return ExtractPlain(path, sink);
  const int pages = doc->pages();
  for (int i = 0; i < pages; ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) continue;
    const poppler::byte_array utf8 = page->text().to_utf8();
    std::string text(utf8.begin(), utf8.end());
    text += '\n';
    if (!sink.Put(text)) break;
  }
  return {};
}

}  // namespace px::search
