#include "search/extractor.h"

#include "foundation/charset.h"
#include "foundation/ini_file.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/text_extract.h"

#include <fcntl.h>
#include <unistd.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace px::search {
namespace {

constexpr size_t kWindow = 1 << 20;        // bytes read at a time
constexpr size_t kSample = 64 * 1024;      // bytes the code page is told from
constexpr uint64_t kWholeCap = 64ull << 20;  // readers that need the whole file read at most this

std::string extensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return AsciiLower(path.substr(dot + 1));
}

// Length of the incomplete UTF-8 sequence at the end of s (0 when it ends whole).
size_t incompleteTail(std::string_view s) {
  const size_t n = s.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const unsigned char c = static_cast<unsigned char>(s[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? back : 0;
  }
  return 0;
}

bool validUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) { ++i; continue; }
    size_t need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (need == 0 || c == 0xC0 || c == 0xC1) return false;
    if (i + need > s.size()) return true;  // cut by the sample's end
    for (size_t k = 1; k < need; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += need;
  }
  return true;
}

struct Fd {
  int fd = -1;
  ~Fd() { if (fd >= 0) ::close(fd); }
};

// Reads up to n bytes (fewer only at the end of the file); -1 with errno on failure.
ssize_t readFull(int fd, char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, buf + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

bool putLines(const std::vector<std::string>& lines, std::string_view charset, TextSink& sink) {
  std::string piece;
  for (const std::string& line : lines) {
    piece += charset.empty() ? line : DecodeFromCharset(line, charset);
    piece += '\n';
    if (piece.size() >= kWindow) {
      if (!sink.Put(piece)) return false;
      piece.clear();
    }
  }
  return piece.empty() || sink.Put(piece);
}

}  // namespace

// ---- decoding -----------------------------------------------------------------------------------

StreamDecoder::StreamDecoder(int codePage) { SetCodePage(codePage); }

StreamDecoder::~StreamDecoder() {
  if (conv_) ucnv_close(static_cast<UConverter*>(conv_));
}

void StreamDecoder::SetCodePage(int codePage) {
  if (conv_) ucnv_close(static_cast<UConverter*>(conv_));
  conv_ = nullptr;
  passThrough_ = true;
  pending_.clear();
  if (codePage == 0 || codePage == kCodePageUtf8 || codePage == 20127) return;
  const std::string name = CharsetNameOfCodePage(codePage);
  if (name.empty()) return;
  UErrorCode err = U_ZERO_ERROR;
  UConverter* c = ucnv_open(name.c_str(), &err);
  if (U_FAILURE(err) || !c) return;
  conv_ = c;
  passThrough_ = false;
}

void StreamDecoder::Decode(std::string_view bytes, std::string& out, bool flush) {
  if (passThrough_) {
    std::string_view all = bytes;
    std::string joined;
    if (!pending_.empty()) {
      joined = pending_;
      joined.append(bytes);
      all = joined;
    }
    const size_t keep = flush ? 0 : incompleteTail(all);
    out.append(all.substr(0, all.size() - keep));
    pending_.assign(all.substr(all.size() - keep));
    return;
  }
  UConverter* c = static_cast<UConverter*>(conv_);
  std::u16string wide;
  wide.resize(bytes.size() * 2 + 16);
  const char* src = bytes.data();
  const char* srcEnd = src + bytes.size();
  while (true) {
    UChar* target = reinterpret_cast<UChar*>(wide.data());
    UChar* targetEnd = target + wide.size();
    UErrorCode err = U_ZERO_ERROR;
    ucnv_toUnicode(c, &target, targetEnd, &src, srcEnd, nullptr, flush, &err);
    const size_t made = static_cast<size_t>(target - reinterpret_cast<UChar*>(wide.data()));
    out += FromWide(std::u16string_view(wide.data(), made));
    if (err != U_BUFFER_OVERFLOW_ERROR) break;
  }
}

int SampleCodePage(std::string_view sample) {
  sample = sample.substr(0, kSample);
  if (validUtf8(sample)) return kCodePageUtf8;  // ASCII too
  const int cp = DetectCodePage(sample);
  return cp;
}

// ---- dispatch -----------------------------------------------------------------------------------

DocKind KindOfFile(const std::string& path, bool otherFormats) {
  if (!otherFormats) return DocKind::Plain;
  const std::string ext = extensionOf(path);
  if (ext == "doc" || ext == "dot") return DocKind::Word;
  if (ext == "rtf" || ext == "wri") return DocKind::RichText;
  if (ext == "odt" || ext == "ods" || ext == "odp" || ext == "ott" || ext == "sxw") return DocKind::OpenDocument;
  if (ext == "docx" || ext == "docm" || ext == "dotx" || ext == "xlsx" || ext == "pptx") return DocKind::OfficeXml;
  if (ext == "htm" || ext == "html" || ext == "xhtml") return DocKind::Html;
  if (ext == "eml" || ext == "mht" || ext == "mhtml") return DocKind::Mail;
  if (ext == "pdf") return DocKind::Pdf;
  return DocKind::Plain;
}

ExtractStatus ExtractText(const std::string& path, TextSink& sink, bool otherFormats) {
  const DocKind kind = KindOfFile(path, otherFormats);
  switch (kind) {
    case DocKind::Plain: return ExtractPlain(path, sink);
    case DocKind::Word: return ExtractWord(path, sink);
    case DocKind::RichText: return ExtractRichText(path, sink);
    case DocKind::OpenDocument:
    case DocKind::OfficeXml: return ExtractZipXml(path, kind, sink);
    case DocKind::Html: return ExtractHtml(path, sink);
    case DocKind::Mail: return ExtractMail(path, sink);
    case DocKind::Pdf: return ExtractPdf(path, sink);
  }
  return ExtractPlain(path, sink);
}

// ---- plain files ---------------------------------------------------------------------------------

ExtractStatus ExtractPlain(const std::string& path, TextSink& sink) {
  Fd f;
  f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (f.fd < 0) return {false, errno};
  std::vector<char> buf(kWindow);
  StreamDecoder decoder(0);
  std::string text;
  bool first = true;
  while (true) {
    const ssize_t n = readFull(f.fd, buf.data(), buf.size());
    if (n < 0) return {false, errno};
    const std::string_view bytes(buf.data(), static_cast<size_t>(n));
    if (first) {
      decoder.SetCodePage(SampleCodePage(bytes));
      first = false;
    }
    const bool last = static_cast<size_t>(n) < buf.size();
    text.clear();
    decoder.Decode(bytes, text, last);
    if (!text.empty() && !sink.Put(text)) return {};
    if (last) return {};
  }
}

// ---- HTML and messages ---------------------------------------------------------------------------

ExtractStatus ExtractHtml(const std::string& path, TextSink& sink) {
  std::string bytes;
  FileStatus st = ReadWholeFile(path, bytes, kWholeCap, false);
  if (!st.ok()) {
    if (st.error == EFBIG) return ExtractPlain(path, sink);
    return {false, st.error};
  }
  mailformat::HtmlTextResult r = mailformat::HtmlToText(bytes);
  std::string charset = r.charset;
  if (charset.empty()) charset = CharsetNameOfCodePage(SampleCodePage(bytes));
  if (CodePageOfCharset(charset) == kCodePageUtf8) charset.clear();
  putLines(r.lines, charset, sink);
  return {};
}

ExtractStatus ExtractMail(const std::string& path, TextSink& sink) {
  {
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (f.fd < 0) return {false, errno};
  }
  mailformat::EmlText t = mailformat::ExtractEmlText(path);
  if (!t.found) return ExtractPlain(path, sink);
  std::string charset = t.charset;
  if (CodePageOfCharset(charset) == kCodePageUtf8) charset.clear();
  if (!putLines(t.lines, charset, sink)) return {};
  return {};
}

}  // namespace px::search
