#pragma once
// The one reader of MIME structure under the spool splitter and the MHTML reader: boundary
// lines, header blocks and bodies, read once, top to bottom, from a LineReader. A fix to how
// boundaries or headers are read reaches both readers.
//
// Boundary rule: a line that begins with an open boundary line ("--" + boundary) ends the body
// when the rest of the line is empty or blanks (the next part follows) or begins with "--" (the
// closing line; whatever follows is ignored, "--b-->" is seen in real mail). A rest that begins
// with anything else is another boundary's line that shares the prefix, and is body. The
// innermost open boundary is tried first.
//
// The line break before a boundary line belongs to the boundary, so a body handed out ends
// without it: a part comes out byte for byte as its sender attached it. A body that runs to the
// end of the input keeps its last line break when the input has one.
//
// Lines of up to kWholeLine bytes always come whole, however the input arrives; a longer line
// comes as a first piece of exactly kWholeLine bytes and then the rest in pieces, and is never a
// boundary. So what the readers make never depends on the buffer size or on how reads split.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mailformat/codecs.h"
#include "mailformat/line_reader.h"

namespace px::mailformat {

// Where a body or header block ended.
struct MimeStop {
  enum Kind {
    None,   // an empty line (the end of a header block)
    Eof,    // the end of the input
    Delim,  // a boundary line: another part follows
    Close,  // a closing boundary line
  } kind = None;
  size_t level = 0;  // which open boundary (0 = outermost)
};

// Receives a header block.
class HeaderSink {
public:
  enum class LineKind {
    NewHeader,  // a line that starts a header
    Folded,     // a continuation line (begins with a blank or tab)
    Rest,       // the rest of a line too long to come whole
  };
  virtual ~HeaderSink() = default;
  // Every line of the block as written (the empty line that ends it excluded). A header is
  // completed (Header) before the line that starts the next one is given.
  virtual void Line(std::string_view, LineKind) {}
  // One complete header, its continuation lines joined with one blank, cut at the limit.
  virtual void Header(std::string_view header) = 0;
};

// Receives a body: its lines (or pieces of long lines) and the line breaks between them.
class BodySink {
public:
  virtual ~BodySink() = default;
  // `lineStart`: the text begins a line (a whole line, or the first piece of a long one).
  virtual bool Text(std::string_view text, bool lineStart) = 0;
  virtual bool Break() = 0;
};

class MimeWalker {
public:
  static constexpr size_t kWholeLine = 4096;

  explicit MimeWalker(LineReader& in) : in_(in) {}

  // The next line, or piece of a long line.
  bool Next(LinePiece& piece);

  // Opens a boundary ("--" + parameter); returns its level. Close() drops the innermost.
  size_t Open(const std::string& boundaryLine);
  void Close();
  size_t open() const { return bounds_.size(); }
  // From now on no line is a boundary (the rest of the input becomes one body).
  void IgnoreBoundaries() { ignore_ = true; }

  MimeStop Classify(const LinePiece& piece) const;

  // Reads a header block up to its empty line, a boundary line or the end of the input.
  MimeStop ReadHeaderBlock(HeaderSink& sink, size_t maxHeader);
  // Reads a body up to the next boundary line or the end. When the sink refuses, reading stops
  // there and Eof is returned.
  MimeStop ReadBody(BodySink& sink);
  // Skips lines up to the next boundary line or the end.
  MimeStop Skip();

  bool failed() const { return in_.failed(); }
  int error() const { return in_.error(); }

private:
  LineReader& in_;
  std::vector<std::string> bounds_;
  bool ignore_ = false;
  // A long line being handed out: the joined start, and what is left of it.
  std::string join_, rest_;
  std::string_view pendingView_;  // the rest of a long line still in the reader's buffer
  bool pending_ = false, pendingLast_ = false, pendingEnded_ = false, pendingOwned_ = false;
};

enum class TransferEncoding { Identity, QuotedPrintable, Base64, UUEncode };
// "base64", "quoted-printable", the uuencode names; anything else leaves the body as it is.
TransferEncoding TransferEncodingOf(std::string_view name);

// Decodes a body as it is read and hands the bytes on in large blocks.
class BodyDecoder : public BodySink {
public:
  using Out = std::function<bool(std::string_view)>;
  // `lineBreak` is what a line break becomes in a body left as it is.
  BodyDecoder(TransferEncoding encoding, Out out, size_t block = 256u << 10);
  bool Text(std::string_view text, bool lineStart) override;
  bool Break() override;
  // Bytes put out as they are, before the body (the header lines of a kept message).
  bool Raw(std::string_view bytes);
  // The end of the body: flushes the decoder and what is buffered.
  bool Finish();

private:
  bool Spill();
  TransferEncoding encoding_;
  Out out_;
  size_t block_;
  std::string buf_;
  Base64Decoder b64_;
  QPDecoder qp_{"\r\n"};
  UUDecoder uu_;
  bool ok_ = true;
};

}  // namespace px::mailformat
