#include "mailformat/mime_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <QMimeDatabase>

#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/line_reader.h"
#include "mailformat/mail_date.h"
#include "mailformat/message_id.h"
#include "mailformat/mime_header.h"
#include "mailformat/spool.h"

namespace px::mailformat {

namespace {

enum HeaderIndex {
  kFrom, kSubject, kTo, kDate, kReplyTo, kCC, kCharset, kContentType, kEncoding, kContentId,
  kDisposition, kLocation, kReceived, kFolder, kOutbound, kDraft, kAccount, kProgram,
  kHeaderCount
};

constexpr std::array<std::string_view, kHeaderCount> kHeaderNames = {
    "From", "Subject", "To", "Date", "Reply-To", "CC", "Charset", "Content-Type",
    "Content-Transfer-Encoding", "Content-ID", "Content-Disposition", "Content-Location",
    "Received", "_Folder", "_Outbound", "_Draft", "X-Plumadex-Account", "$$$Plumadex$$$"};

constexpr size_t kMaxHeaderValue = 64 * 1024;        // one header, continuations included
constexpr size_t kMaxHeaderLinesBytes = 256 * 1024;  // header lines kept per entity
constexpr size_t kMaxPreambleInMemory = 64 * 1024;
constexpr size_t kOutChunk = 256 * 1024;
constexpr size_t kMaxKindLength = 32;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

std::string AsciiLowerCopy(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Lower(c);
  return r;
}

bool ContainsNoCase(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return false;
  if (hay.size() < needle.size()) return false;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (StartsWithNoCase(hay.substr(i), needle)) return true;
  return false;
}

// Header index of a header line, or -1.
int MatchHeader(std::string_view line) {
  if (line.empty()) return -1;
  switch (Lower(line[0])) {
    case 'f': case 's': case 't': case 'd': case 'r': case 'c': case '_': case 'x': case '$':
      break;
    default:
      return -1;
  }
  for (int i = 0; i < kHeaderCount; ++i)
    if (HeaderNameMatches(line, kHeaderNames[i])) return i;
  return -1;
}

bool IsPseudo(int h) { return h >= kFolder && h <= kProgram; }

// A file name from outside made safe to name a file: no folders, no line breaks, no reserved
// names, no marker extensions.
std::string CleanAttachmentName(std::string_view raw, std::string_view charset) {
  std::string_view v = TrimView(raw);
  size_t cut = v.find_last_of("/\\");
  if (cut != std::string_view::npos) v = v.substr(cut + 1);
  std::string name(TrimView(v));
  if (name.empty()) return {};
  if (!charset.empty() && CodePageOfCharset(charset) != kCodePageUtf8)
    name = DecodeFromCharset(name, charset);
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/' || c == '\\') c = '_';
  name = SafeFileName(name);
  // Belt and braces around the cleaner: these must never name a file.
  std::string_view t = TrimView(name);
  if (t.empty() || t == "." || t == "..") return "_";
  if (name.starts_with("$$")) name[0] = '_';
  if (SameText(name, "Plumadex.ini")) name.insert(name.begin(), '_');
  if (name.size() > 200) {
    size_t n = 200;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    std::string ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.size() - dot <= kMaxKindLength + 1) ext = name.substr(dot);
    name = name.substr(0, n > ext.size() ? n - ext.size() : n) + ext;
  }
  return name;
}

std::string KindOfName(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 >= name.size()) return {};
  std::string kind(name.substr(dot + 1));
  if (kind.size() > kMaxKindLength) return {};
  if (IsMarkerKind(kind))
    for (char& c : kind)
      if (c == '$') c = '_';
  return kind;
}

// The kind of an unnamed part: "txt" for text, else the type's usual extension, so a picture or
// a document without a file name does not become a text file.
std::string KindOfType(const std::string& type) {
  if (type.empty() || type.starts_with("text/") || type.starts_with("message/")) return "txt";
  static const std::pair<std::string_view, std::string_view> kCommon[] = {
      {"application/pdf", "pdf"},  {"image/jpeg", "jpg"},       {"image/pjpeg", "jpg"},
      {"image/png", "png"},        {"image/gif", "gif"},        {"image/bmp", "bmp"},
      {"image/tiff", "tif"},       {"application/zip", "zip"},  {"application/msword", "doc"},
      {"audio/mpeg", "mp3"},       {"video/mp4", "mp4"},        {"application/rtf", "rtf"},
      {"application/octet-stream", "bin"}};
  for (auto [t, k] : kCommon)
    if (type == t) return std::string(k);
  QString suffix = QMimeDatabase().mimeTypeForName(QString::fromStdString(type)).preferredSuffix();
  std::string k = suffix.toStdString();
  if (k.empty() || k.size() > kMaxKindLength ||
      k.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") != std::string::npos)
    return "bin";
  return k;
}

// A numbered piece of a split parameter: like HeaderParam, but the blanks inside quotes are
// kept, since they may join two words of the whole value.
std::string PieceParam(std::string_view value, std::string_view param) {
  for (size_t i = 0; i + param.size() <= value.size(); ++i) {
    if (!StartsWithNoCase(value.substr(i), param)) continue;
    std::string_view rest = TrimView(value.substr(i + param.size()));
    if (!rest.empty() && rest[0] == '"') {
      rest.remove_prefix(1);
      return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(TrimView(rest.substr(0, rest.find(';'))));
  }
  return {};
}

struct Entity {
  const Entity* parent = nullptr;
  bool topLevel = false;
  std::array<std::string, kHeaderCount> v;
  std::vector<std::string> lines;  // own header lines
  size_t linesBytes = 0;
  std::string fileName;
  std::string fileNameCharset;  // charset of the encoded words the file name came from
  bool nameFromParam = false;
  std::string wordCharset;
  std::string type;  // main content type, lower case
  bool multipart = false, related = false, alternative = false;
  bool eml = false, rfc822 = false;
  std::string boundary;
  // Pseudo-header state (honoured ones only).
  bool hasFolder = false, outbound = false, draft = false, mark = false, hasAccount = false;
  std::string folder, account;
  bool hasReceived = false;
  bool keptWhole = false;  // a multipart stored whole as one EML part
};

struct Stop {
  enum Kind { None, Eof, Delim, Close } kind = None;
  size_t level = 0;
};

class Splitter {
public:
  Splitter(LineReader& in, PartSink& sink, const SplitOptions& opt, bool textOnly,
           bool attachmentsOnly = false)
      : in_(in), sink_(sink), opt_(opt), textOnly_(textOnly), attachmentsOnly_(attachmentsOnly) {}

  SplitSummary Run() {
    Entity top;
    top.topLevel = true;
    ParseEntity(top, 0);
    if (parts_ == 0 && !attachmentsOnly_ && !Stopped() && !in_.failed()) {
      // A message without any part (an empty multipart) still arrives: its headers are kept.
      top.eml = true;
      EmitEmpty(top);
    }
    SplitSummary s;
    s.outbound = top.outbound;
    s.to = top.v[kTo];
    s.readFailed = in_.failed();
    s.sinkFailed = sinkFailed_;
    return s;
  }

private:
  bool Stopped() const { return sinkFailed_ || sink_.Done() || in_.failed(); }

  Stop Classify(const LinePiece& p) const {
    if (swallow_ || !p.first || !p.last || bounds_.empty()) return {};
    std::string_view t = p.text;
    if (t.size() < 2 || t[0] != '-' || t[1] != '-') return {};
    for (size_t i = bounds_.size(); i-- > 0;) {
      const std::string& b = *bounds_[i];
      if (!t.starts_with(b)) continue;
      std::string_view rest = TrimRightView(t.substr(b.size()));
      if (rest.empty()) return {Stop::Delim, i};
      if (rest == "--") return {Stop::Close, i};
    }
    return {};
  }

  // ---- header block ----

  void StoreLine(Entity& e, std::string_view text, bool continuation) {
    if (e.linesBytes + text.size() > kMaxHeaderLinesBytes) return;
    e.linesBytes += text.size();
    if (continuation && !e.lines.empty())
      e.lines.back().append(text);
    else
      e.lines.emplace_back(text);
  }

  Stop ReadHeaders(Entity& e) {
    std::string cur;
    bool have = false;
    size_t headerNo = 0;
    size_t curLine = 0;
    std::vector<std::pair<size_t, int>> pseudoLines;  // line index, header
    size_t accountHeaderNo = 0;
    std::string tentativeAccount;
    bool tentative = false;

    auto finish = [&]() {
      if (!have) return;
      have = false;
      ++headerNo;
      int h = MatchHeader(cur);
      if (h < 0) return;
      std::string headerCharset;
      std::string value = CleanHeaderValue(std::string_view(cur).substr(kHeaderNames[h].size()),
                                           &headerCharset);
      if (!headerCharset.empty()) e.wordCharset = headerCharset;
      if (IsPseudo(h)) {
        pseudoLines.emplace_back(curLine, h);
        if (e.topLevel && opt_.trust == SourceTrust::Trusted) {
          ApplyPseudo(e, h, value);
        } else if (e.topLevel && opt_.trust == SourceTrust::Receiver && h == kAccount) {
          tentative = true;
          tentativeAccount = value;
          accountHeaderNo = headerNo;
        }
        return;
      }
      ApplyHeader(e, h, value, headerCharset);
    };

    Stop result{Stop::Eof, 0};
    LinePiece p;
    while (!Stopped() && in_.Next(p)) {
      if (!p.first) {
        if (have && cur.size() < kMaxHeaderValue)
          cur.append(p.text.substr(0, kMaxHeaderValue - cur.size()));
        StoreLine(e, p.text, true);
        continue;
      }
      Stop s = Classify(p);
      if (s.kind != Stop::None) {
        result = s;
        break;
      }
      if (p.text.empty() && p.last) {
        result = Stop{};
        break;
      }
      if (have && (p.text[0] == ' ' || p.text[0] == '\t')) {
        if (cur.size() < kMaxHeaderValue) {
          cur += ' ';
          cur.append(p.text.substr(0, kMaxHeaderValue - cur.size()));
        }
      } else {
        finish();
        cur.assign(p.text.substr(0, kMaxHeaderValue));
        have = true;
        curLine = e.lines.size();
      }
      StoreLine(e, p.text, false);
    }
    finish();
    // The receiver's account line counts only when it is the last header of the block.
    bool accountHonoured = tentative && accountHeaderNo == headerNo;
    if (accountHonoured) ApplyPseudo(e, kAccount, tentativeAccount);
    bool trusted = e.topLevel && opt_.trust == SourceTrust::Trusted;
    for (size_t i = 0; i < pseudoLines.size(); ++i) {
      auto [line, h] = pseudoLines[i];
      bool honoured = trusted || (accountHonoured && h == kAccount && i + 1 == pseudoLines.size() &&
                                  line + 1 >= e.lines.size());
      if (!honoured && line < e.lines.size())
        e.lines[line].insert(0, kNeutralisedPrefix);
    }
    return result;
  }

  void ApplyPseudo(Entity& e, int h, const std::string& value) {
    switch (h) {
      case kFolder: {
        e.mark = true;
        if (auto safe = SafeFolderValue(value)) {
          e.hasFolder = true;
          e.folder = *safe;
        }
        break;
      }
      case kOutbound: e.outbound = true; break;
      case kDraft: e.draft = true; break;
      case kAccount: e.hasAccount = true; e.account = value; break;
      case kProgram: e.mark = true; break;
      default: break;
    }
  }

  // The file name of a Content-Type or Content-Disposition value: "name=" (also found inside
  // "filename="), else an RFC 2231 "name*=" value (charset'language'percent-encoded text).
  static void TakeFileName(Entity& e, const std::string& value, const std::string& headerCharset) {
    e.fileName = HeaderParam(value, "name=");
    e.fileNameCharset = headerCharset;
    auto takeExtended = [&e](const std::string& ext, bool first) {
      size_t q1 = ext.find('\''), q2 = q1 == std::string::npos ? q1 : ext.find('\'', q1 + 1);
      if (first && q2 != std::string::npos) {
        e.fileNameCharset = ext.substr(0, q1);
        e.fileName += UrlDecode(ext.substr(q2 + 1));
      } else {
        e.fileName += UrlDecode(ext);
      }
    };
    if (e.fileName.empty()) takeExtended(HeaderParam(value, "name*="), true);
    if (e.fileName.empty()) {
      // A long name split into numbered pieces: "name*0*=utf-8''...; name*1*=..." (or unencoded
      // "name*0=...").
      for (int k = 0; k < 100; ++k) {
        std::string n = "name*" + std::to_string(k);
        std::string encoded = HeaderParam(value, n + "*=");
        if (!encoded.empty()) {
          takeExtended(encoded, k == 0);
          continue;
        }
        std::string plain = PieceParam(value, n + "=");
        if (plain.empty()) break;
        e.fileName += plain;
      }
    }
    e.nameFromParam = !e.fileName.empty();
  }

  void ApplyHeader(Entity& e, int h, std::string& value, const std::string& headerCharset) {
    switch (h) {
      case kReceived:
        if (!e.hasReceived && StartsWithNoCase(value, "from")) {
          e.hasReceived = true;
          e.v[kReceived] = std::move(value);
        }
        return;
      case kContentType: {
        e.type = AsciiLowerCopy(HeaderParam(value, ""));
        e.multipart = e.related = e.alternative = false;
        if (e.type.starts_with("multipart/")) {
          e.multipart = true;
          e.related = e.type.starts_with("multipart/related");
          e.alternative = e.type.starts_with("multipart/alternative");
          e.boundary = "--" + HeaderParam(value, "boundary=");
        }
        e.v[kCharset] = HeaderParam(value, "charset=");
        if (e.fileName.empty()) TakeFileName(e, value, headerCharset);
        e.v[kContentType] = std::move(value);
        return;
      }
      case kDisposition:
        if (e.fileName.empty()) TakeFileName(e, value, headerCharset);
        break;
      case kLocation:
        if (e.fileName.empty()) {
          size_t cut = value.find_last_of(":\\/");
          e.fileName = std::string(TrimView(cut == std::string::npos ? std::string_view(value)
                                                                     : std::string_view(value).substr(cut + 1)));
        }
        break;
      default:
        break;
    }
    e.v[h] = std::move(value);
  }

  void FinishHeaders(Entity& e, int depth) {
    if (e.v[kContentType].empty()) {
      // The parts of a digest are messages unless they say otherwise.
      bool digest = e.parent && e.parent->type.starts_with("multipart/digest");
      e.v[kContentType] = digest ? "message/rfc822" : "text/plain";
      e.type = e.v[kContentType];
      e.multipart = false;
    }
    if (e.v[kEncoding].empty()) e.v[kEncoding] = "7bit";
    if (e.v[kCharset].empty()) e.v[kCharset] = e.wordCharset;
    if (const Entity* p = e.parent) {
      for (int i = 0; i < kHeaderCount; ++i)
        if (i != kContentType && i != kEncoding && e.v[i].empty()) e.v[i] = p->v[i];
      if (!e.hasReceived) e.hasReceived = p->hasReceived;
      if (!e.hasFolder && p->hasFolder) {
        e.hasFolder = true;
        e.folder = p->folder;
      }
      e.outbound = e.outbound || p->outbound;
      e.draft = e.draft || p->draft;
      e.mark = e.mark || p->mark;
      if (!e.hasAccount && p->hasAccount) {
        e.hasAccount = true;
        e.account = p->account;
      }
    }
    if (e.multipart) {
      if (e.boundary.size() <= 2) {
        e.multipart = false;  // no boundary: keep the whole entity as it stands
        e.eml = true;
      } else if ((e.related || e.alternative) && !textOnly_ && !attachmentsOnly_) {
        e.multipart = false;
        e.eml = true;
        e.keptWhole = true;
      }
    } else if (e.type.starts_with("message/rfc822")) {
      e.rfc822 = true;
    } else if (e.type.starts_with("text/html") && e.fileName.empty()) {
      // An HTML body is kept as an EML text for the HTML viewer; a named HTML attachment (also
      // one named by its Content-Location) is an ordinary file and is decoded like one.
      e.eml = true;
    }
    if (depth >= opt_.maxDepth && (e.multipart || e.rfc822)) {
      e.multipart = e.rfc822 = false;
      e.eml = true;
    }
  }

  // ---- parts ----

  Stop ParseEntity(Entity& e, int depth) {
    Stop s = ReadHeaders(e);
    FinishHeaders(e, depth);
    if (Stopped()) return {Stop::Eof, 0};
    if (s.kind != Stop::None) {
      // The entity ended with its header block.
      if (!e.multipart && !e.rfc822 && !attachmentsOnly_) EmitEmpty(e);
      return s;
    }
    if (e.rfc822) {
      Entity inner;
      inner.parent = &e;
      return ParseEntity(inner, depth + 1);
    }
    if (e.multipart) return ParseMultipart(e, depth);
    return ParseLeaf(e);
  }

  Stop ParseMultipart(Entity& e, int depth) {
    bounds_.push_back(&e.boundary);
    const size_t my = bounds_.size() - 1;
    // Preamble: kept aside in case the boundary never comes (then it is the rest of the entity).
    std::string pre;
    bool spilled = false, found = false;
    Stop s{Stop::Eof, 0};
    LinePiece p;
    while (!Stopped() && in_.Next(p)) {
      if (p.first) {
        Stop c = Classify(p);
        if (c.kind == Stop::Delim && c.level == my) {
          found = true;
          break;
        }
        if (c.kind != Stop::None) {
          s = c;
          break;
        }
      }
      pre.append(p.text);
      if (p.last) pre += "\r\n";
      if (attachmentsOnly_) {
        pre.resize(std::min<size_t>(pre.size(), 1));  // only whether there was any text matters
        continue;
      }
      if (pre.size() > kMaxPreambleInMemory) {
        if (!spilled) {
          if (!BeginPart()) break;
          std::string head;
          HeaderChain(e, head);
          head += "\r\n";
          if (!WritePart(head)) break;
          spilled = true;
        }
        if (!WritePart(pre)) break;
        pre.clear();
      }
    }
    if (!found) {
      bounds_.pop_back();
      if (Stopped()) {
        if (spilled) sink_.Abort();
        return {Stop::Eof, 0};
      }
      bool hasText = !attachmentsOnly_ && (spilled || !TrimView(pre).empty());
      if (hasText) {
        if (!spilled) {
          if (BeginPart()) {
            std::string head;
            HeaderChain(e, head);
            head += "\r\n";
            WritePart(head);
          }
        }
        if (!Stopped()) WritePart(pre);
        EndPart(e, true);
      }
      if (s.kind == Stop::Close && s.level == my) return SkipEpilogue();
      return s;
    }
    if (spilled) sink_.Abort();
    pre.clear();
    pre.shrink_to_fit();
    for (;;) {
      Entity child;
      child.parent = &e;
      s = ParseEntity(child, depth + 1);
      if (Stopped()) {
        bounds_.pop_back();
        return {Stop::Eof, 0};
      }
      if (s.kind == Stop::Delim && s.level == my) continue;
      if (s.kind == Stop::Close && s.level == my) break;
      bounds_.pop_back();
      return s;  // end of input, or an enclosing boundary
    }
    bounds_.pop_back();
    return SkipEpilogue();
  }

  // Skips lines up to the next boundary of an enclosing entity (or the end).
  Stop SkipEpilogue() {
    LinePiece p;
    while (!Stopped() && in_.Next(p)) {
      if (!p.first) continue;
      Stop c = Classify(p);
      if (c.kind != Stop::None) return c;
    }
    return {Stop::Eof, 0};
  }

  bool BeginPart() {
    if (!sink_.Begin()) {
      sinkFailed_ = true;
      return false;
    }
    return true;
  }

  bool WritePart(std::string_view bytes) {
    if (sinkFailed_) return false;
    if (!bytes.empty() && !sink_.Write(bytes)) {
      sinkFailed_ = true;
      sink_.Abort();
      return false;
    }
    return true;
  }

  void EndPart(const Entity& e, bool asEml) {
    if (sinkFailed_) return;
    if (!sink_.End(Describe(e, asEml))) {
      sinkFailed_ = true;
      return;
    }
    ++parts_;
  }

  void EmitEmpty(const Entity& e) {
    if (!BeginPart()) return;
    if (e.eml) {
      std::string head;
      HeaderChain(e, head);
      head += "\r\n";
      if (!WritePart(head)) return;
    }
    EndPart(e, e.eml);
  }

  enum class Mode { Text, Eml, QuotedPrintable, Base64, UUEncode };

  // Attachments-only pass: skips a body that is not a named file of a multipart/mixed.
  Stop SkipLeaf() { return SkipEpilogue(); }

  Stop ParseLeaf(Entity& e) {
    if (attachmentsOnly_ && (e.eml || !e.nameFromParam || !e.parent || parts_ >= opt_.maxParts ||
                             !e.parent->type.starts_with("multipart/mixed")))
      return SkipLeaf();
    if (!attachmentsOnly_ && parts_ + 1 >= opt_.maxParts) {
      // Too many parts: the rest of the message becomes this one part, undecoded.
      swallow_ = true;
      e.eml = true;
    }
    Mode mode = Mode::Text;
    if (e.eml) {
      mode = Mode::Eml;
    } else {
      std::string enc = AsciiLowerCopy(TrimView(e.v[kEncoding]));
      if (enc == "base64")
        mode = Mode::Base64;
      else if (enc == "uue" || enc == "uuencode" || enc == "x-uue" || enc == "x-uuencode")
        mode = Mode::UUEncode;
      else if (enc == "quoted-printable")
        mode = Mode::QuotedPrintable;
    }
    if (!BeginPart()) return {Stop::Eof, 0};
    std::string out;
    out.reserve(kOutChunk + 4096);
    if (mode == Mode::Eml) {
      HeaderChain(e, out);
      out += "\r\n";
    }
    Base64Decoder b64;
    QPDecoder qp("\r\n");
    UUDecoder uu;
    Stop s{Stop::Eof, 0};
    LinePiece p;
    bool holdsMixed = false;  // a kept-whole multipart with files attached inside it
    while (!sinkFailed_ && in_.Next(p)) {
      if (p.first) {
        Stop c = Classify(p);
        if (c.kind != Stop::None) {
          s = c;
          break;
        }
        if (e.keptWhole && !holdsMixed && !p.text.empty() &&
            (p.text[0] == ' ' || p.text[0] == '\t' || StartsWithNoCase(p.text, "content-type")) &&
            ContainsNoCase(p.text, "multipart/mixed"))
          holdsMixed = true;
      }
      switch (mode) {
        case Mode::Base64:
          b64.Feed(p.text, out);
          break;
        case Mode::UUEncode:
          uu.Feed(p.text, out);
          if (p.last) uu.Feed("\n", out);
          break;
        case Mode::QuotedPrintable:
          qp.Feed(p.text, out);
          if (p.last) qp.Feed("\n", out);
          break;
        case Mode::Text:
        case Mode::Eml:
          out.append(p.text);
          if (p.last) out += "\r\n";
          break;
      }
      if (out.size() >= kOutChunk) {
        if (!WritePart(out)) return {Stop::Eof, 0};
        out.clear();
      }
    }
    if (in_.failed()) {
      sink_.Abort();  // a part cut short by a read error is not kept
      return {Stop::Eof, 0};
    }
    if (mode == Mode::Base64) b64.Finish(out);
    if (mode == Mode::UUEncode) uu.Finish(out);
    if (mode == Mode::QuotedPrintable) qp.Finish(out);
    if (!WritePart(out)) return {Stop::Eof, 0};
    if (holdsMixed) sink_.KeptWhole();
    EndPart(e, mode == Mode::Eml);
    return s;
  }

  // The header lines of the entity and its ancestors (outermost first), keeping only the last
  // Content-Type header.
  static void HeaderChain(const Entity& e, std::string& out) {
    std::vector<const Entity*> chain;
    for (const Entity* p = &e; p; p = p->parent) chain.push_back(p);
    auto isStart = [](const std::string& l) { return !l.empty() && l[0] != ' ' && l[0] != '\t'; };
    const std::string* lastType = nullptr;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      for (const auto& l : (*it)->lines)
        if (isStart(l) && HeaderNameMatches(l, "Content-Type")) lastType = &l;
    bool skipping = false;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      for (const auto& l : (*it)->lines) {
        if (isStart(l)) skipping = (&l != lastType) && HeaderNameMatches(l, "Content-Type");
        if (skipping) continue;
        out += l;
        out += "\r\n";
      }
    }
  }

  PartDescriptor Describe(const Entity& e, bool asEml) const {
    PartDescriptor d;
    d.to = e.v[kTo];
    d.from = e.v[kFrom];
    std::string name = CleanAttachmentName(e.fileName, e.fileNameCharset);
    std::string kind = KindOfName(name);
    if (kind.empty()) {
      if (asEml) {
        kind = "eml";
      } else if (e.type.starts_with("text/richtext") || e.type.starts_with("text/enriched") ||
                 e.type.starts_with("text/rtf")) {
        kind = "rtf";
      } else {
        kind = KindOfType(e.type);
      }
    }
    d.kind = kind;
    d.name = name.empty() ? e.v[kSubject] : name;
    static const std::pair<int, std::string_view> kTags[] = {
        {kTo, "To: "}, {kDate, "Date: "}, {kReplyTo, "Reply-To: "}, {kCC, "CC: "},
        {kCharset, "Charset: "}};
    for (auto [h, tag] : kTags)
      if (!e.v[h].empty()) d.AddTag(tag, e.v[h]);
    DateTime received = e.v[kReceived].empty() ? 0 : ParseMailDate(e.v[kReceived]);
    if (received == 0 && !e.v[kDate].empty()) received = ParseMailDate(e.v[kDate]);
    if (received != 0) {
      std::string text = FormatShortDate(received);
      if (!text.empty()) d.AddTag("X-DATE-RECEIVED: ", text);
    }
    if (e.outbound) {
      d.AddLine("_Outbound");
    } else if (e.draft) {
      d.AddLine("_Draft");
    } else if (e.mark) {
      bool own = !e.hasReceived && !opt_.ownAddress.empty() && ContainsNoCase(e.v[kFrom], opt_.ownAddress);
      d.AddLine(own ? "_Outbound" : "_Read");
    }
    if (e.hasFolder) d.AddTag("_Folder: ", e.folder);
    if (e.hasAccount) d.AddTag("X-Plumadex-Account: ", e.account);
    return d;
  }

  LineReader& in_;
  PartSink& sink_;
  const SplitOptions& opt_;
  bool textOnly_;
  bool attachmentsOnly_;
  std::vector<const std::string*> bounds_;
  size_t parts_ = 0;
  bool swallow_ = false;
  bool sinkFailed_ = false;
};

// Writes the parts into the spool. Content files go into place as they are finished; the
// descriptors follow at the end, with the group's message ids, so the filer never sees a
// descriptor without its content or an incomplete group.
class SpoolSink : public PartSink {
public:
  explicit SpoolSink(MailSpool& spool) : spool_(spool) {}

  bool Begin() override {
    name_ = spool_.NewName();
    if (!writer_.Open(spool_, name_, kContentExt)) return Fail();
    return true;
  }
  bool Write(std::string_view bytes) override { return writer_.Write(bytes) || Fail(); }
  bool End(PartDescriptor d) override {
    for (int attempt = 0; !writer_.CommitAs(name_); ++attempt) {
      if (writer_.error() != EEXIST || attempt > 10) return Fail();
      name_ = spool_.NewName();
    }
    done_.emplace_back(name_, std::move(d));
    keptWhole_.push_back(nextKeptWhole_);
    nextKeptWhole_ = false;
    return true;
  }
  void Abort() override {
    writer_.Discard();
    nextKeptWhole_ = false;
  }
  void KeptWhole() override { nextKeptWhole_ = true; }

  // A multipart/alternative or related entity is stored whole for the HTML viewer; files attached
  // inside it (Apple Mail puts them into a multipart/mixed within the HTML alternative) also
  // become parts of their own, so the user finds them beside the message. They take the
  // message's descriptor lines with their own name and kind.
  bool ExtractFromKeptWhole(const SplitOptions& options) {
    const size_t n = done_.size();
    for (size_t i = 0; i < n; ++i) {
      if (!keptWhole_[i]) continue;
      LineReader in;
      if (!in.OpenFile(spool_.PathOf(done_[i].first, kContentExt))) continue;
      CoverSink sink(*this, done_[i].second);
      SplitOptions nested;
      nested.maxDepth = options.maxDepth;
      nested.maxParts = options.maxParts > done_.size() ? options.maxParts - done_.size() : 0;
      Splitter splitter(in, sink, nested, /*textOnly=*/false, /*attachmentsOnly=*/true);
      SplitSummary s = splitter.Run();
      if (s.sinkFailed) return false;
    }
    return true;
  }

  // Writes the descriptors; with `group` and several parts they get the message ids.
  bool Finish(bool group, std::vector<std::string>& names) {
    if (group && done_.size() > 1) {
      std::string base = spool_.NewName();
      for (size_t i = 0; i < done_.size(); ++i)
        done_[i].second.AddTag("MsgID: ", FormatMessageId(base, unsigned(i + 1)));
    }
    bool ok = true;
    for (auto& [name, d] : done_) {
      std::string err;
      if (spool_.WriteFile(name, kDescriptorExt, FormatPartDescriptor(d), &err)) {
        names.push_back(name);
      } else {
        ok = false;
        if (error_.empty()) error_ = err;
        spool_.Remove(name, kContentExt);  // a content file without descriptor is of no use
      }
    }
    if (spool_.sync()) spool_.SyncFolder();
    return ok;
  }

  const std::string& error() const { return error_; }

private:
  bool Fail() {
    if (error_.empty()) error_ = writer_.errorText();
    writer_.Discard();
    return false;
  }
  // Passes an attached file's part on with the lines of the message it was found in.
  class CoverSink : public PartSink {
  public:
    CoverSink(SpoolSink& owner, PartDescriptor cover) : owner_(owner), cover_(std::move(cover)) {}
    bool Begin() override { return owner_.Begin(); }
    bool Write(std::string_view bytes) override { return owner_.Write(bytes); }
    bool End(PartDescriptor d) override {
      PartDescriptor r = cover_;
      r.kind = d.kind;
      r.name = d.name;
      // The message's charset says nothing about the bytes of a file.
      std::erase_if(r.tagged, [](const std::string& t) { return StartsWithNoCase(t, "Charset:"); });
      return owner_.End(std::move(r));
    }
    void Abort() override { owner_.Abort(); }

  private:
    SpoolSink& owner_;
    PartDescriptor cover_;
  };

  MailSpool& spool_;
  SpoolFileWriter writer_;
  std::string name_;
  std::vector<std::pair<std::string, PartDescriptor>> done_;
  std::vector<bool> keptWhole_;
  bool nextKeptWhole_ = false;
  std::string error_;
};

SplitResult RunSpoolSplit(LineReader& in, MailSpool& spool, const SplitOptions& options,
                          std::string_view source) {
  SplitResult r;
  SpoolSink sink(spool);
  SplitSummary s = SplitMessage(in, sink, options);
  bool ok = !s.readFailed && !s.sinkFailed;
  if (ok && !sink.ExtractFromKeptWhole(options)) ok = false;
  bool written = sink.Finish(ok, r.parts);
  r.outbound = s.outbound;
  r.to = s.to;
  if (!ok || !written) {
    r.status = SplitStatus::Failed;
    if (s.readFailed)
      r.error = "Cannot read " + std::string(source) + "\r\rError " + std::to_string(in.error()) +
                ": " + std::strerror(in.error());
    else
      r.error = sink.error();
  }
  return r;
}

}  // namespace

SplitSummary SplitMessage(LineReader& in, PartSink& sink, const SplitOptions& options, bool textOnly) {
  Splitter splitter(in, sink, options, textOnly);
  return splitter.Run();
}

SplitResult SplitMessageFile(const std::string& path, MailSpool& spool, const SplitOptions& options) {
  LineReader in;
  if (!in.OpenFile(path)) {
    SplitResult r;
    r.status = SplitStatus::CannotOpen;
    r.error = "Cannot open " + path + "\r\rError " + std::to_string(in.error()) + ": " +
              std::strerror(in.error());
    return r;
  }
  return RunSpoolSplit(in, spool, options, path);
}

SplitResult SplitMessageBytes(std::string_view bytes, MailSpool& spool, const SplitOptions& options) {
  LineReader in;
  in.OpenMemory(bytes);
  return RunSpoolSplit(in, spool, options, "message");
}

SplitResult SplitSpoolMessage(MailSpool& spool, std::string_view name, const SplitOptions& options) {
  std::string path = spool.PathOf(name, kRawExt);
  SplitResult r = SplitMessageFile(path, spool, options);
  if (r.status == SplitStatus::CannotOpen) return r;
  if (r.ok()) {
    // Every pair is on the disk (and flushed) before the raw message goes.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      r.status = SplitStatus::Failed;
      r.error = "Cannot delete " + path + "\r\rError " + std::to_string(errno) + ": " + std::strerror(errno);
    }
    return r;
  }
  std::string err;
  if (!spool.MarkFailed(name, &err)) r.error += "\r" + err;
  return r;
}

}  // namespace px::mailformat
