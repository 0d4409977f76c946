// Word 97 and later keep their text in pieces listed by the piece table (the CLX of the table
// stream "0Table" or "1Table"); a piece is 8-bit (Windows-1252, "compressed") or UTF-16LE. Word 6
// and 95 files keep one 8-bit range between fcMin and fcMac. Every offset read from the file is
// checked against the stream it points into; a file that does not add up is scanned as plain bytes.
#include "search/extractor.h"

#include "foundation/charset.h"

#include <fcntl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace px::search {
namespace {

constexpr size_t kFibSize = 906;        // the file information block the reader needs
constexpr size_t kChunk = 256 * 1024;   // characters decoded at a time
constexpr size_t kMaxPieces = 1 << 20;

// Random access to one stream.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly n bytes at off into out, or false.
  virtual bool Read(uint64_t off, size_t n, std::string& out) = 0;
};

class ViewSource final : public ByteSource {
public:
  explicit ViewSource(std::string_view v) : v_(v) {}
  uint64_t Size() const override { return v_.size(); }
  bool Read(uint64_t off, size_t n, std::string& out) override {
    if (off > v_.size() || n > v_.size() - off) return false;
    out.assign(v_.substr(off, n));
    return true;
  }

private:
  std::string_view v_;
};

class GsfSource final : public ByteSource {
public:
  explicit GsfSource(GsfInput* in) : in_(in) {}
  uint64_t Size() const override { return static_cast<uint64_t>(gsf_input_size(in_)); }
  bool Read(uint64_t off, size_t n, std::string& out) override {
    if (off > Size() || n > Size() - off) return false;
    if (gsf_input_seek(in_, static_cast<gsf_off_t>(off), G_SEEK_SET)) return false;
    out.resize(n);
    return n == 0 || gsf_input_read(in_, n, reinterpret_cast<guint8*>(out.data())) != nullptr;
  }

private:
  GsfInput* in_;
};

uint16_t u16At(std::string_view b, size_t off) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[off]) | (static_cast<unsigned char>(b[off + 1]) << 8));
}
uint32_t u32At(std::string_view b, size_t off) {
  return static_cast<uint32_t>(u16At(b, off)) | (static_cast<uint32_t>(u16At(b, off + 2)) << 16);
}

// Word's marks (paragraph, cell, field) become blanks and line breaks.
template <typename C>
C plainChar(C c) {
  if (c == 0x0D || c == 0x0B || c == 0x0C || c == 0x07) return '\n';
  if (c < 0x20 && c != '\t') return ' ';
  return c;
}

// Decodes one piece into the sink, a chunk at a time. False when the sink stopped or the
// stream could not be read.
bool putPiece(ByteSource& doc, uint64_t off, uint64_t chars, bool compressed, TextSink& sink, bool& stop) {
  std::string raw;
  std::u16string wide;
  char16_t high = 0;
  while (chars > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chars, kChunk));
    const size_t bytes = compressed ? n : n * 2;
    if (!doc.Read(off, bytes, raw)) return false;
    std::string text;
    if (compressed) {
      for (char& c : raw) c = static_cast<char>(plainChar(static_cast<unsigned char>(c)));
      text = DecodeFromCodePage(raw, 1252);
    } else {
      wide.clear();
      if (high) wide += high;
      high = 0;
      for (size_t i = 0; i < n; ++i) wide += plainChar(static_cast<char16_t>(u16At(raw, 2 * i)));
      if (!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF && chars > n) {
        high = wide.back();
        wide.pop_back();
      }
      text = FromWide(wide);
    }
    if (!text.empty() && !sink.Put(text)) {
      stop = true;
      return true;
    }
    off += bytes;
    chars -= n;
  }
  return true;
}

// The 8-bit range of a Word 6/95 file (or of a file without a usable piece table).
bool putRange(ByteSource& doc, std::string_view fib, TextSink& sink) {
  const uint32_t fcMin = u32At(fib, 0x18);
  const uint32_t fcMac = u32At(fib, 0x1C);
  if (fcMin > fcMac || fcMac > doc.Size()) return false;
  std::string sample;
  const size_t sampleLen = std::min<size_t>(fcMac - fcMin, 64 * 1024);
  if (!doc.Read(fcMin, sampleLen, sample)) return false;
  int cp = SampleCodePage(sample);
  if (cp == 0) cp = 1252;
  StreamDecoder dec(cp);
  std::string raw;
  uint64_t off = fcMin;
  while (off < fcMac) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(fcMac - off, kChunk));
    if (!doc.Read(off, n, raw)) return false;
    for (char& c : raw) c = static_cast<char>(plainChar(static_cast<unsigned char>(c)));
    std::string text;
    off += n;
    dec.Decode(raw, text, off >= fcMac);
    if (!text.empty() && !sink.Put(text)) return true;
  }
  return true;
}

bool putPieceTable(ByteSource& doc, ByteSource& table, std::string_view fib, TextSink& sink) {
  const uint32_t fcClx = u32At(fib, 0x1A2);
  const uint32_t lcbClx = u32At(fib, 0x1A6);
  if (lcbClx == 0 || fcClx > table.Size() || lcbClx > table.Size() - fcClx) return false;
  std::string clx;
  if (!table.Read(fcClx, lcbClx, clx)) return false;
  size_t i = 0;
  // Property runs (Prc) come first; the piece table (Pcdt) follows.
  while (i < clx.size() && clx[i] == 0x01) {
    if (i + 3 > clx.size()) return false;
    const int16_t cb = static_cast<int16_t>(u16At(clx, i + 1));
    if (cb < 0) return false;
    i += 3 + static_cast<size_t>(cb);
  }
  if (i + 5 > clx.size() || clx[i] != 0x02) return false;
  const uint32_t lcb = u32At(clx, i + 1);
  i += 5;
  if (lcb > clx.size() - i || lcb < 16 || (lcb - 4) % 12 != 0) return false;
  const size_t n = (lcb - 4) / 12;
  if (n > kMaxPieces) return false;
  const std::string_view plc(clx.data() + i, lcb);
  const size_t pcds = 4 * (n + 1);
  bool any = false;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t cpStart = u32At(plc, 4 * k);
    const uint32_t cpEnd = u32At(plc, 4 * (k + 1));
    if (cpEnd < cpStart) return any;
    const uint32_t fc = u32At(plc, pcds + 8 * k + 2);
    const bool compressed = fc & 0x40000000u;
    uint64_t off = fc & 0x3FFFFFFFu;
    if (compressed) off /= 2;
    const uint64_t chars = cpEnd - cpStart;
    const uint64_t bytes = compressed ? chars : chars * 2;
    if (off > doc.Size() || bytes > doc.Size() - off) continue;  // a piece outside the stream
    bool stop = false;
    if (!putPiece(doc, off, chars, compressed, sink, stop)) return any;
    any = true;
    if (stop) return true;
  }
  return true;
}

bool wordText(ByteSource& doc, ByteSource* table0, ByteSource* table1, TextSink& sink) {
  std::string fib;
  if (doc.Size() < kFibSize || !doc.Read(0, kFibSize, fib)) return false;
  const uint16_t ident = u16At(fib, 0);
  const uint16_t flags = u16At(fib, 0x0A);
  if (flags & 0x0100) return false;  // encrypted
  if (ident == 0xA5EC) {
    ByteSource* table = (flags & 0x0200) ? table1 : table0;
    if (table && putPieceTable(doc, *table, fib, sink)) return true;
  }
  return putRange(doc, fib, sink);
}

struct GObjectUnref {
  void operator()(void* p) const { if (p) g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

}  // namespace

bool WordTextFromStreams(std::string_view wordDocument, std::string_view table, TextSink& sink) {
  ViewSource doc(wordDocument), tab(table);
  return wordText(doc, &tab, &tab, sink);
}

ExtractStatus ExtractWord(const std::string& path, TextSink& sink) {
  char head[8] = {};
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {false, errno};
    ssize_t n;
    do n = ::read(fd, head, sizeof head); while (n < 0 && errno == EINTR);
    const int e = errno;
    ::close(fd);
    if (n < 0) return {false, e};
  }
  if (std::memcmp(head, "\xFF" "WPC", 4) == 0) return ExtractPlain(path, sink);
  if (std::memcmp(head, "{\\rtf", 5) == 0) return ExtractRichText(path, sink);

  static const bool inited = [] { gsf_init(); return true; }();
  (void)inited;
  GError* err = nullptr;
  GPtr<GsfInput> input(gsf_input_stdio_new(path.c_str(), &err));
  if (err) g_error_free(err);
  err = nullptr;
  if (!input) return ExtractPlain(path, sink);
  GPtr<GsfInfile> ole(gsf_infile_msole_new(input.get(), &err));
  if (err) g_error_free(err);
  if (!ole) return ExtractPlain(path, sink);
  GPtr<GsfInput> doc(gsf_infile_child_by_name(ole.get(), "WordDocument"));
  if (!doc) return ExtractPlain(path, sink);
  GPtr<GsfInput> t0(gsf_infile_child_by_name(ole.get(), "0Table"));
  GPtr<GsfInput> t1(gsf_infile_child_by_name(ole.get(), "1Table"));
  GsfSource docSrc(doc.get());
  std::unique_ptr<GsfSource> s0, s1;
  if (t0) s0 = std::make_unique<GsfSource>(t0.get());
  if (t1) s1 = std::make_unique<GsfSource>(t1.get());
  if (!wordText(docSrc, s0.get(), s1.get(), sink)) return ExtractPlain(path, sink);
  return {};
}

}  // namespace px::search
