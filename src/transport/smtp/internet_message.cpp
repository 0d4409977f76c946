#include "transport/smtp/internet_message.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>

#include "foundation/address.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_writer.h"
#include "mailformat/mime_header.h"

namespace px::transport {
namespace {

constexpr size_t kFoldAt = 78;         // soft limit of a header line
constexpr size_t kMaxLine = 998;       // hard limit of any line (RFC 5322)
constexpr size_t kWordBytes = 42;      // bytes per encoded word: 56 base64 characters, 68 in all
constexpr size_t kChunk = 64 * 1024;

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

bool IsUtf8Name(std::string_view cs) {
  return cs.empty() || EqualNoCase(cs, "utf-8") || EqualNoCase(cs, "utf8");
}

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : (c >> 4) == 0xE ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 9;
    if (n == 9 || i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// Header text from the store in UTF-8, on one line.
std::string HeaderText(std::string_view text, std::string_view charset) {
  std::string u;
  if (IsUtf8Name(charset))
    u = ValidUtf8(text) ? std::string(text) : DecodeFromCharset(text, "windows-1252");
  else
    u = DecodeFromCharset(text, charset);
  return mailformat::OneLine(u);
}

bool PlainAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// UTF-8 text as encoded words of at most 75 characters, never splitting a character.
std::vector<std::string> EncodedWords(std::string_view utf8) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t end = std::min(utf8.size(), i + kWordBytes);
    if (end < utf8.size())
      while (end > i + 1 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    words.push_back("=?UTF-8?B?" + mailformat::Base64Encode(utf8.substr(i, end - i)) + "?=");
    i = end;
  }
  return words;
}

// Joins tokens after "Name:" with blanks, breaking the line before a token that would pass the
// soft limit. Tokens are short (encoded words, address pieces), so no line reaches 998.
std::string Fold(std::string_view name, const std::vector<std::string>& tokens) {
  std::string out(name);
  out += ":";
  size_t col = out.size();
  for (const auto& t : tokens) {
    if (col + 1 + t.size() > kFoldAt && col > name.size() + 1) {
      out += "\r\n";
      col = 0;
    }
    out += " ";
    out += t;
    col += 1 + t.size();
  }
  return out;
}

std::vector<std::string> SplitWords(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    if (j > i) out.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// Words of a phrase or unstructured text: ASCII as it is, else encoded words.
std::vector<std::string> TextTokens(std::string_view utf8) {
  auto words = SplitWords(utf8);
  bool plain = PlainAscii(utf8) && utf8.find("=?") == std::string_view::npos &&
               std::all_of(words.begin(), words.end(), [](const std::string& w) { return w.size() <= 60; });
  if (plain) return words;
  return EncodedWords(utf8);
}

bool AddressCharOk(char c) {
  auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u != 0x7F && c != '<' && c != '>' && c != ',' && c != ';' && c != '"' && c != '(' &&
         c != ')' && c != '\\';
}

// The address to use on the wire for one element, or nullopt when it is not a usable address.
std::optional<std::string> WireAddress(std::string_view element) {
  if (IsGroupAddress(element)) return std::nullopt;
  std::string bare = AddServiceDomain(BareAddressOf(element));
  size_t at = bare.rfind('@');
  if (bare.empty() || at == std::string::npos || at == 0 || at + 1 == bare.size()) return std::nullopt;
  if (!std::all_of(bare.begin(), bare.end(), AddressCharOk)) return std::nullopt;
  if (bare.find('@') != at) return std::nullopt;
  return bare;
}

std::string QuotedPhrase(std::string_view ascii) {
  std::string out = "\"";
  for (char c : ascii) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string SanitizedIds(std::string_view ids) {
  std::string out;
  for (char c : mailformat::OneLine(ids))
    if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) out += c;
  return out;
}

std::string Hex(uint64_t v, int digits) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string MakeBoundary(RandomSource& random) {
  return "----=_Part_" + Hex(random.Below(1ull << 32), 8) + Hex(random.Below(1ull << 32), 8) + "_" +
         Hex(random.Below(1ull << 32), 8);
}

// ---- quoted-printable of a byte stream ---------------------------------------------------------

// Encodes bytes as quoted-printable in lines of at most 76 characters. CR LF (and a lone LF)
// are hard line breaks; a blank or tab before a line break or at the end is escaped.
class QpWriter {
public:
  explicit QpWriter(std::string& out) : out_(out) {}
  void Feed(std::string_view bytes) {
    for (char c : bytes) Put(static_cast<unsigned char>(c));
  }
  // Ends the text. `softEnd` adds a soft line break so that the text ends without a newline
  // even when a CR LF follows.
  void Finish(bool softEnd) {
    if (pendingCR_) {
      FlushBlank(false);
      Escaped('\r');
      pendingCR_ = false;
    }
    FlushBlank(true);
    if (softEnd && col_ > 0) out_ += "=\r\n";
    col_ = 0;
  }

private:
  void Put(unsigned char c) {
    if (pendingCR_) {
      pendingCR_ = false;
      if (c == '\n') {
        HardBreak();
        return;
      }
      FlushBlank(false);
      Escaped('\r');
    }
    if (c == '\r') {
      pendingCR_ = true;
      return;
    }
    if (c == '\n') {
      HardBreak();
      return;
    }
    FlushBlank(false);
    if (c == ' ' || c == '\t') {
      blank_ = static_cast<char>(c);
      return;
    }
    if (c >= 33 && c <= 126 && c != '=')
      Token(std::string(1, static_cast<char>(c)));
    else
      Escaped(c);
  }
  void FlushBlank(bool escape) {
    if (!blank_) return;
    char b = blank_;
    blank_ = 0;
    if (escape) Escaped(static_cast<unsigned char>(b));
    else Token(std::string(1, b));
  }
  void HardBreak() {
    FlushBlank(true);
    out_ += "\r\n";
    col_ = 0;
  }
  void Escaped(unsigned char c) {
    static const char* hex = "0123456789ABCDEF";
    Token(std::string{'=', hex[c >> 4], hex[c & 15]});
  }
  void Token(const std::string& t) {
    if (col_ + t.size() > 75) {
      out_ += "=\r\n";
      col_ = 0;
    }
    out_ += t;
    col_ += t.size();
  }
  std::string& out_;
  size_t col_ = 0;
  char blank_ = 0;
  bool pendingCR_ = false;
};

// ---- reading files ------------------------------------------------------------------------------

// Calls `fn` for each line of a file (without its CR LF / LF); `ended` tells whether the line
// had a line break after it. False when the file cannot be read.
template <typename Fn>
bool ForEachLine(const std::string& path, Fn fn) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string buf(kChunk, '\0');
  std::string line;
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    std::streamsize n = in.gcount();
    if (n <= 0) break;
    std::string_view chunk(buf.data(), static_cast<size_t>(n));
    size_t pos = 0;
    while (pos < chunk.size()) {
      size_t lf = chunk.find('\n', pos);
      if (lf == std::string_view::npos) {
        line.append(chunk.substr(pos));
        break;
      }
      line.append(chunk.substr(pos, lf - pos));
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!fn(line, true)) return true;
      line.clear();
      pos = lf + 1;
    }
  }
  if (in.bad()) return false;
  if (!line.empty()) fn(line, false);
  return true;
}

template <typename Fn>
bool ForEachChunk(const std::string& path, Fn fn) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string buf(kChunk, '\0');
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    std::streamsize n = in.gcount();
    if (n <= 0) break;
    if (!fn(std::string_view(buf.data(), static_cast<size_t>(n)))) return false;
  }
  return !in.bad();
}

bool LineNeedsEncoding(std::string_view line) {
  if (line.size() > kMaxLine) return true;
  for (char c : line) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || u == 0 || c == '\r') return true;
  }
  return false;
}

// ---- the writer --------------------------------------------------------------------------------

class Writer {
public:
  Writer(const ByteSink& sink, FileStatus& error) : sink_(sink), error_(error) {}

  void Put(std::string_view s) {
    buf_.append(s);
    if (buf_.size() >= kChunk) Flush();
  }
  void Line(std::string_view s) {
    Put(s);
    Put("\r\n");
  }
  // Hands the buffer to the sink. A final CR LF is held back (unless `all`), so that a part
  // writer can still drop the line break that belongs to the next boundary.
  bool Flush(bool all = false) {
    size_t keep = !all && buf_.size() >= 2 && buf_.compare(buf_.size() - 2, 2, "\r\n") == 0 ? 2 : 0;
    if (ok_ && buf_.size() > keep && !sink_(std::string_view(buf_).substr(0, buf_.size() - keep)))
      Fail(FileStatus{EIO, "Cannot write the message", "write", {}, {}});
    buf_.erase(0, buf_.size() - keep);
    return ok_;
  }
  // Drops a CR LF that ends what was written so far.
  void DropFinalBreak() {
    if (buf_.size() >= 2 && buf_.compare(buf_.size() - 2, 2, "\r\n") == 0) buf_.resize(buf_.size() - 2);
  }
  void Fail(FileStatus failure) {
    if (ok_) error_ = std::move(failure);
    ok_ = false;
  }
  // A part's file could not be read (errno as the reader left it).
  void CannotRead(const std::string& path) { Fail(FileStatus::Failure("read", path, errno)); }
  bool ok() const { return ok_; }
  std::string& buffer() { return buf_; }

private:
  const ByteSink& sink_;
  FileStatus& error_;
  std::string buf_;
  bool ok_ = true;
};

bool IsBodyExt(std::string_view ext) {
  return ext == "txt" || ext == "eml" || ext == "htm" || ext == "html";
}

std::string CharsetParam(std::string_view charset) {
  std::string cs;
  for (char c : charset)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == ':') cs += c;
  return cs.empty() ? "utf-8" : cs;
}

// A text body (plain or HTML) in its own charset: 7bit when it is short-lined ASCII, else
// quoted-printable. `alone`: the body is the whole message, so a missing final line break can
// only be kept through a soft break at the end.
void WriteTextEntity(Writer& w, const MimePart& p, std::string_view subtype, bool alone) {
  bool encode = false, endsWithBreak = true, empty = true;
  if (!ForEachLine(p.path, [&](const std::string& line, bool ended) {
        empty = false;
        if (LineNeedsEncoding(line)) encode = true;
        endsWithBreak = ended;
        return true;
      })) {
    w.CannotRead(p.path);
    return;
  }
  if (alone && !empty && !endsWithBreak) encode = true;
  w.Line("Content-Type: text/" + std::string(subtype) + "; charset=\"" + CharsetParam(p.charset) + "\"");
  w.Line(encode ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 7bit");
  w.Line("");
  if (encode) {
    QpWriter qp(w.buffer());
    bool ok = ForEachChunk(p.path, [&](std::string_view chunk) {
      qp.Feed(chunk);
      return w.Flush();
    });
    qp.Finish(alone);
    if (!ok && w.ok()) w.CannotRead(p.path);
  } else {
    bool first = true;
    ForEachLine(p.path, [&](const std::string& line, bool ended) {
      if (!first) w.Put("\r\n");
      first = false;
      w.Put(line);
      if (ended && alone) {
        w.Put("\r\n");
        first = true;
      }
      return w.ok();
    });
    // In a multipart the line break before the next boundary belongs to the boundary: a text
    // that ended with a line break needs its own.
    if (!alone && endsWithBreak && !empty) w.Put("\r\n");
  }
}

// ---- an HTML message stored as ".eml" ------------------------------------------------------

// Walks a stored MIME entity line by line. The first pass looks at every leaf; the second
// writes the entity, re-encoding the leaves that SMTP could not carry as they are: unencoded
// content with 8-bit bytes, bare CR or long lines becomes quoted-printable, base64 and
// quoted-printable with over-long lines are wrapped anew, anything else is cut at the limit.
// Only the Content-* fields of the top header are kept: the message's own header replaces
// the rest.
class EmlRewriter {
public:
  explicit EmlRewriter(const std::string& path) : path_(path) {}

  bool Scan() { return Walk(nullptr, false); }
  // `alone`: the entity is the whole message body. Otherwise it ends without the line break
  // that belongs to the boundary after it.
  bool Write(Writer& w, bool alone) { return Walk(&w, alone); }

private:
  enum class State { Headers, Container, Leaf };
  enum class Coding { Identity, Base64, QuotedPrintable, Other };
  enum class Plan { Keep, ToQp, Rewrap, Requote, Cut };
  struct Leaf {
    Coding coding = Coding::Identity;
    bool unsafe = false;  // 8-bit bytes, NUL, bare CR or a line over the limit
    bool tooLong = false;
    Plan plan() const {
      switch (coding) {
        case Coding::Identity: return unsafe || tooLong ? Plan::ToQp : Plan::Keep;
        case Coding::Base64: return unsafe || tooLong ? Plan::Rewrap : Plan::Keep;
        case Coding::QuotedPrintable: return unsafe || tooLong ? Plan::Requote : Plan::Keep;
        case Coding::Other: return unsafe || tooLong ? Plan::Cut : Plan::Keep;
      }
      return Plan::Keep;
    }
  };
  struct HeaderInfo {
    bool multipart = false;
    std::string boundary;
    Coding coding = Coding::Identity;
  };

  static std::string Unfolded(const std::vector<std::string>& lines, std::string_view name) {
    std::string v;
    bool in = false;
    for (const auto& l : lines) {
      if (!l.empty() && (l[0] == ' ' || l[0] == '\t')) {
        if (in) v += " " + l;
        continue;
      }
      in = mailformat::HeaderNameMatches(l, name);
      if (in) v = l.substr(l.find(':') + 1);
    }
    return v;
  }

  static HeaderInfo Inspect(const std::vector<std::string>& lines) {
    HeaderInfo h;
    std::string ct = Unfolded(lines, "Content-Type");
    std::string type = mailformat::HeaderParam(ct, "");
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    type = std::string(mailformat::TrimView(type));
    if (type.starts_with("multipart/")) {
      h.boundary = mailformat::HeaderParam(ct, "boundary=");
      h.multipart = !h.boundary.empty();
    }
    std::string cte(mailformat::TrimView(Unfolded(lines, "Content-Transfer-Encoding")));
    if (cte.empty() || EqualNoCase(cte, "7bit") || EqualNoCase(cte, "8bit") || EqualNoCase(cte, "binary"))
      h.coding = Coding::Identity;
    else if (EqualNoCase(cte, "base64"))
      h.coding = Coding::Base64;
    else if (EqualNoCase(cte, "quoted-printable"))
      h.coding = Coding::QuotedPrintable;
    else
      h.coding = Coding::Other;
    return h;
  }

  void WriteHeaders(Writer& w, const std::vector<std::string>& lines, bool top, bool toQp) {
    bool keep = false;
    for (const auto& l : lines) {
      bool continuation = !l.empty() && (l[0] == ' ' || l[0] == '\t');
      if (!continuation) {
        keep = !top || StartsNoCase(l, "Content-");
        if (toQp && mailformat::HeaderNameMatches(l, "Content-Transfer-Encoding")) keep = false;
      }
      if (keep) w.Line(OneSafeLine(l));
    }
    if (toQp) w.Line("Content-Transfer-Encoding: quoted-printable");
    w.Line("");
  }

  // A header, preamble or epilogue line as it may go out: no bare CR, within the limit.
  static std::string OneSafeLine(std::string_view l) {
    std::string s(l.substr(0, kMaxLine));
    for (auto& c : s)
      if (c == '\r' || c == '\0') c = ' ';
    return s;
  }

  bool Walk(Writer* w, bool alone) {
    std::vector<std::string> boundaries;
    std::vector<std::string> headers;
    State state = State::Headers;
    bool top = true, leafFirst = true;
    size_t leaf = 0;
    Plan plan = Plan::Keep;
    std::optional<QpWriter> qp;
    mailformat::QPDecoder qpDecoder;
    std::string b64;  // base64 characters not yet written (Rewrap)
    std::string decoded;

    auto flushBase64 = [&](bool all) {
      size_t pos = 0;
      while (b64.size() - pos >= 76 || (all && pos < b64.size())) {
        size_t n = std::min<size_t>(76, b64.size() - pos);
        if (!leafFirst) w->Put("\r\n");
        w->Put(std::string_view(b64).substr(pos, n));
        leafFirst = false;
        pos += n;
      }
      b64.erase(0, pos);
    };
    auto endHeaders = [&]() {
      HeaderInfo h = Inspect(headers);
      if (top && Unfolded(headers, "Content-Type").empty()) headers.insert(headers.begin(), "Content-Type: text/plain");
      if (h.multipart) {
        boundaries.push_back(h.boundary);
        state = State::Container;
        if (w) WriteHeaders(*w, headers, top, false);
      } else {
        state = State::Leaf;
        if (!w) {
          leaves_.push_back({h.coding, false, false});
        } else {
          plan = leaf < leaves_.size() ? leaves_[leaf].plan() : Plan::Keep;
          WriteHeaders(*w, headers, top, plan == Plan::ToQp);
          if (plan == Plan::ToQp || plan == Plan::Requote) qp.emplace(w->buffer());
          qpDecoder.Reset();
          b64.clear();
        }
        leafFirst = true;
        ++leaf;
      }
      headers.clear();
      top = false;
    };
    // Ends the leaf being written; true when it wrote anything.
    auto endLeaf = [&](bool softEnd) {
      if (!w) return;
      if (plan == Plan::Requote && qp) {
        decoded.clear();
        qpDecoder.Finish(decoded);
        qp->Feed(decoded);
      }
      if (plan == Plan::Rewrap) flushBase64(true);
      if (qp) {
        qp->Finish(softEnd);
        qp.reset();
      }
    };
    auto leafLine = [&](const std::string& line) {
      if (!w) {
        Leaf& l = leaves_.back();
        if (line.size() > kMaxLine) l.tooLong = true;
        if (LineNeedsEncoding(line)) l.unsafe = true;
        return;
      }
      switch (plan) {
        case Plan::Keep:
          if (!leafFirst) w->Put("\r\n");
          w->Put(line);
          break;
        case Plan::ToQp:
          if (!leafFirst) qp->Feed("\r\n");
          qp->Feed(line);
          w->Flush();
          break;
        case Plan::Requote:
          decoded.clear();
          qpDecoder.Feed(line, decoded);
          qpDecoder.Feed("\r\n", decoded);
          qp->Feed(decoded);
          w->Flush();
          break;
        case Plan::Rewrap:
          for (char c : line)
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=') b64 += c;
          flushBase64(false);
          w->Flush();
          return;  // leafFirst follows what was written
        case Plan::Cut: {
          size_t pos = 0;
          do {
            if (!leafFirst) w->Put("\r\n");
            w->Put(OneSafeLine(std::string_view(line).substr(pos)));
            leafFirst = false;
            pos += kMaxLine;
          } while (pos < line.size());
          break;
        }
      }
      leafFirst = false;
    };

    bool ok = ForEachLine(path_, [&](const std::string& line, bool) {
      if (state == State::Headers) {
        if (line.empty()) endHeaders();
        else if (headers.size() < 1000) headers.push_back(line);
        return !w || w->ok();
      }
      // A boundary of this entity or of any enclosing one ends the current part.
      if (line.starts_with("--")) {
        for (size_t k = boundaries.size(); k-- > 0;) {
          std::string_view rest = std::string_view(line).substr(2);
          if (!rest.starts_with(boundaries[k])) continue;
          std::string_view tail = mailformat::TrimView(rest.substr(boundaries[k].size()));
          if (!tail.empty() && tail != "--") continue;
          if (state == State::Leaf) endLeaf(false);
          boundaries.resize(k + 1);
          if (w) {
            if (state == State::Leaf && !leafFirst) w->Put("\r\n");
            w->Line(OneSafeLine(line));
          }
          if (tail == "--") {
            boundaries.pop_back();
            state = State::Container;
          } else {
            state = State::Headers;
          }
          return !w || w->ok();
        }
      }
      if (state == State::Leaf) leafLine(line);
      else if (w) w->Line(OneSafeLine(line));  // preamble and epilogue text
      return !w || w->ok();
    });
    if (state == State::Headers && (top || !headers.empty())) endHeaders();
    if (w && state == State::Leaf) {
      bool encoded = plan == Plan::ToQp || plan == Plan::Requote;
      endLeaf(alone);
      if (alone && !encoded && !leafFirst) w->Put("\r\n");
    } else if (w && state == State::Container && !alone) {
      w->DropFinalBreak();
    }
    return ok;
  }

  std::string path_;
  std::vector<Leaf> leaves_;
};

void WriteAttachment(Writer& w, const MimePart& p) {
  std::string type = mailformat::ContentTypeOfFile(p.path.empty() ? p.name : p.path);
  // A message or multipart may not be sent base64-encoded: it goes as plain bytes.
  if (type.starts_with("message/") || type.starts_with("multipart/")) type = "application/octet-stream";
  std::string name = mailformat::OneLine(p.name);
  std::string ct = "Content-Type: " + type;
  if (type.starts_with("text/")) ct += "; charset=\"" + CharsetParam(p.charset) + "\"";
  if (PlainAscii(name) && name.find('"') == std::string::npos && name.find('\\') == std::string::npos &&
      name.size() <= 60)
    ct += ";\r\n name=\"" + name + "\"";
  w.Line(ct);
  w.Line("Content-Transfer-Encoding: base64");
  w.Line("Content-Disposition: attachment" + FileNameParams(name));
  w.Line("");
  mailformat::Base64Encoder enc;
  bool any = false;
  bool ok = ForEachChunk(p.path, [&](std::string_view chunk) {
    any = true;
    enc.Feed(chunk, w.buffer());
    return w.Flush();
  });
  enc.Finish(w.buffer());
  // The encoder ends its last line; that break is the one before the next boundary.
  if (any) w.DropFinalBreak();
  if (!ok && w.ok()) w.CannotRead(p.path);
}

}  // namespace

std::string EncodeUnstructured(std::string_view name, std::string_view text, std::string_view charset) {
  return Fold(name, TextTokens(HeaderText(text, charset)));
}

std::string EncodeAddressList(std::string_view name, std::string_view list, std::string_view charset) {
  std::vector<std::string> tokens;
  auto elements = ParseAddressList(mailformat::OneLine(list));
  for (size_t i = 0; i < elements.size(); ++i) {
    auto addr = WireAddress(elements[i]);
    if (!addr) continue;
    std::string display = HeaderText(DisplayNameOf(elements[i]), charset);
    display = std::string(mailformat::TrimView(display));
    std::string bare = BareAddressOf(elements[i]);
    if (!display.empty() && !EqualNoCase(display, bare) && !EqualNoCase(display, *addr)) {
      if (PlainAscii(display) && display.find("=?") == std::string::npos && display.size() <= 70) {
        tokens.push_back(QuotedPhrase(display));
      } else {
        auto words = EncodedWords(display);
        tokens.insert(tokens.end(), words.begin(), words.end());
      }
      tokens.push_back("<" + *addr + ">");
    } else {
      tokens.push_back(*addr);
    }
    tokens.back() += ",";
  }
  if (!tokens.empty()) tokens.back().pop_back();
  return Fold(name, tokens);
}

std::string FileNameParams(std::string_view utf8Name) {
  std::string name = mailformat::OneLine(utf8Name);
  if (PlainAscii(name) && name.find('"') == std::string::npos && name.find('\\') == std::string::npos &&
      name.size() <= 60)
    return ";\r\n filename=\"" + name + "\"";
  // RFC 2231: charset''percent-encoded, in pieces of at most 60 characters (never splitting
  // an escape).
  static const char* hex = "0123456789ABCDEF";
  std::vector<std::string> pieces(1);
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    std::string t;
    if (std::isalnum(c) || std::string_view("!#$&+-.^_`|~").find(ch) != std::string_view::npos)
      t = std::string(1, ch);
    else
      t = std::string{'%', hex[c >> 4], hex[c & 15]};
    if (pieces.back().size() + t.size() > 60) pieces.emplace_back();
    pieces.back() += t;
  }
  if (pieces.size() == 1) return ";\r\n filename*=UTF-8''" + pieces[0];
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i)
    out += ";\r\n filename*" + std::to_string(i) + "*=" + (i == 0 ? "UTF-8''" : "") + pieces[i];
  return out;
}

Envelope EnvelopeOf(const InternetMessage& m) {
  Envelope e;
  auto from = WireAddress(mailformat::OneLine(m.from));
  if (from) e.mailFrom = *from;
  for (const std::string* list : {&m.to, &m.cc, &m.bcc}) {
    for (const auto& el : ParseAddressList(mailformat::OneLine(*list))) {
      auto a = WireAddress(el);
      if (!a) {
        e.invalid.push_back(el);
        continue;
      }
      bool dup = std::any_of(e.recipients.begin(), e.recipients.end(),
                             [&](const std::string& r) { return EqualNoCase(r, *a); });
      if (!dup) e.recipients.push_back(*a);
    }
  }
  return e;
}

std::string MakeMessageId(std::string_view base, std::string_view fromAddress) {
  std::string left;
  for (char c : base) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') left += c;
    else if (c == ':' || c == '/') left += '.';
  }
  if (left.empty()) left = "0";
  std::string domain;
  if (auto a = WireAddress(fromAddress)) {
    for (char c : a->substr(a->rfind('@') + 1))
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-')
        domain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (domain.empty()) domain = kServiceMailDomain;
  return left + ".plumadex@" + domain;
}

FileStatus WriteInternetMessage(const InternetMessage& m, RandomSource& random, const ByteSink& sink) {
  FileStatus error;
  Writer w(sink, error);

  w.Line("Date: " + FormatMailDate(m.date ? m.date : NowDateTime()));
  w.Line(EncodeAddressList("From", m.from, m.charset));
  auto hasAddress = [](const std::string& list) {
    auto elements = ParseAddressList(mailformat::OneLine(list));
    return std::any_of(elements.begin(), elements.end(), [](const std::string& e) { return WireAddress(e).has_value(); });
  };
  bool hasTo = hasAddress(m.to);
  bool hasCc = hasAddress(m.cc);
  if (hasTo) w.Line(EncodeAddressList("To", m.to, m.charset));
  if (hasCc) w.Line(EncodeAddressList("Cc", m.cc, m.charset));
  if (!hasTo && !hasCc) w.Line("To: undisclosed-recipients:;");
  w.Line(EncodeUnstructured("Subject", m.subject, m.charset));
  if (!m.messageId.empty()) w.Line("Message-ID: <" + SanitizedIds(m.messageId) + ">");
  if (std::string v = SanitizedIds(m.inReplyTo); !v.empty()) w.Line(Fold("In-Reply-To", SplitWords(v)));
  if (std::string v = SanitizedIds(m.references); !v.empty()) w.Line(Fold("References", SplitWords(v)));
  w.Line("MIME-Version: 1.0");
  w.Line("X-Mailer: Plumadex");

  const MimePart* body = nullptr;
  size_t firstAttachment = 0;
  if (!m.parts.empty() && IsBodyExt(m.parts[0].ext)) {
    body = &m.parts[0];
    firstAttachment = 1;
  }
  bool alone = firstAttachment == m.parts.size();

  std::optional<EmlRewriter> eml;
  if (body && body->ext == "eml") {
    eml.emplace(body->path);
    if (!eml->Scan()) {
      return FileStatus::Failure("read", body->path, errno);
    }
  }
  auto writeBody = [&]() {
    if (!body) return;
    if (eml) {
      if (!eml->Write(w, alone) && w.ok()) w.CannotRead(body->path);
    } else {
      WriteTextEntity(w, *body, body->ext == "txt" ? "plain" : "html", alone);
    }
  };

  if (alone && body) {
    writeBody();
  } else {
    std::string boundary = MakeBoundary(random);
    w.Line("Content-Type: multipart/mixed;");
    w.Line(" boundary=\"" + boundary + "\"");
    w.Line("");
    w.Line("This is a multi-part message in MIME format.");
    auto open = [&]() {
      w.Put("\r\n--");
      w.Line(boundary);
    };
    if (body) {
      open();
      writeBody();
    }
    for (size_t i = firstAttachment; i < m.parts.size() && w.ok(); ++i) {
      open();
      WriteAttachment(w, m.parts[i]);
    }
    w.Put("\r\n--" + boundary + "--\r\n");
  }
  w.Flush(true);
  return error;
}

}  // namespace px::transport
