#include "mailformat/mime_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <QMimeDatabase>

#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/file_status.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/line_reader.h"
#include "mailformat/mail_date.h"
#include "mailformat/message_id.h"
#include "mailformat/mime_header.h"
#include "mailformat/mime_walker.h"
#include "mailformat/spool.h"

namespace px::mailformat {

namespace {

enum HeaderIndex {
  kFrom, kSubject, kTo, kDate, kReplyTo, kCC, kCharset, kContentType, kEncoding, kContentId,
  kDisposition, kLocation, kReceived, kFolder, kOutbound, kDraft, kUnread, kAccount, kProgram,
  kMessageId, kInReplyTo, kReferences,
  kHeaderCount
};

constexpr std::array<std::string_view, kHeaderCount> kHeaderNames = {
    "From", "Subject", "To", "Date", "Reply-To", "CC", "Charset", "Content-Type",
    "Content-Transfer-Encoding", "Content-ID", "Content-Disposition", "Content-Location",
    "Received", "_Folder", "_Outbound", "_Draft", "_Unread", "X-Plumadex-Account", "$$$Plumadex$$$",
    "Message-ID", "In-Reply-To", "References"};

constexpr size_t kMaxHeaderValue = 64 * 1024;        // one header, continuations included
constexpr size_t kMaxHeaderLinesBytes = 256 * 1024;  // header lines kept per entity
// Header lines of enclosing entities copied into one part stored whole.
constexpr size_t kMaxAncestorHeaderBytes = 32 * 1024;
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
    case 'm': case 'i':
      break;
    default:
      return -1;
  }
  for (int i = 0; i < kHeaderCount; ++i)
    if (HeaderNameMatches(line, kHeaderNames[i])) return i;
  return -1;
}

bool IsPseudo(int h) { return h >= kFolder && h <= kProgram; }

// References kept of a received message: the newest ones (the thread's start and its latest
// messages are what a reader's program needs to place a reply).
constexpr size_t kMaxReferences = 20;
constexpr size_t kMaxMessageIdLength = 250;

// The last `most` message ids "<...>" of a header value, blank-separated; ids without a "@",
// too long, or holding blanks, controls or another bracket are dropped.
std::string MessageIdList(std::string_view value, size_t most) {
  std::vector<std::string_view> ids;
  size_t i = 0;
  while ((i = value.find('<', i)) != std::string_view::npos) {
    const size_t close = value.find('>', i + 1);
    if (close == std::string_view::npos) break;
    const std::string_view id = value.substr(i, close - i + 1);
    const std::string_view inner = id.substr(1, id.size() - 2);
    const bool usable = !inner.empty() && id.size() <= kMaxMessageIdLength &&
                        inner.find('@') != std::string_view::npos &&
                        std::all_of(inner.begin(), inner.end(), [](char c) {
                          const auto u = static_cast<unsigned char>(c);
                          return u > 0x20 && u < 0x7f && c != '<';
                        });
    if (usable) ids.push_back(id);
    i = close + 1;
  }
  if (ids.size() > most) ids.erase(ids.begin(), ids.end() - static_cast<long>(most));
  std::string out;
  for (std::string_view id : ids) {
    if (!out.empty()) out += ' ';
    out += id;
  }
  return out;
}

// A Content-ID without its angle brackets; "" when it is not one printable word.
std::string ContentIdOf(std::string_view value) {
  std::string_view v = TrimView(value);
  if (v.size() >= 2 && v.front() == '<' && v.back() == '>') v = v.substr(1, v.size() - 2);
  const bool usable = !v.empty() && v.size() <= kMaxMessageIdLength &&
                      std::all_of(v.begin(), v.end(), [](char c) {
                        const auto u = static_cast<unsigned char>(c);
                        return u > 0x20 && u < 0x7f && c != '<' && c != '>';
                      });
  return usable ? std::string(v) : std::string();
}

bool SameCharset(std::string_view a, std::string_view b) {
  if (SameText(a, b)) return true;
  int ca = CodePageOfCharset(a);
  return ca != 0 && ca == CodePageOfCharset(b);
}

// Header text read in charset `from`, written in charset `to` ("" = UTF-8). Text in a charset
// nobody knows, and plain ASCII, stays as it is.
std::string Recode(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty() || SameCharset(from, to) || CodePageOfCharset(from) == 0) return std::string(text);
  if (!to.empty() && CodePageOfCharset(to) == 0) return std::string(text);
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(text);
  std::string utf8 = DecodeFromCharset(text, from);
  if (to.empty() || CodePageOfCharset(to) == kCodePageUtf8) return utf8;
  return EncodeToCharset(utf8, to);
}

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
  // Not cut here: the cut below keeps the extension.
  name = SafeFileName(name, name.size() + 1);
  // Belt and braces around the cleaner: these must never name a file.
  std::string_view t = TrimView(name);
  if (t.empty() || t == "." || t == "..") return "_";
  if (name.starts_with("$$")) name[0] = '_';
  if (SameText(name, "Plumadex.ini")) name.insert(name.begin(), '_');
  if (name.size() > 200) {
    // The stem is cut, on a character boundary; the extension stays.
    std::string ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKindLength + 1)
      ext = name.substr(dot);
    size_t n = 200 - ext.size();
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    name = name.substr(0, n) + ext;
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
  bool nameFromDisposition = false;
  std::array<std::string, kHeaderCount> cs;  // charset of the encoded words of each value
  std::string wordCharset;
  std::string type;  // main content type, lower case
  bool multipart = false, related = false, alternative = false;
  bool eml = false, rfc822 = false;
  std::string boundary;
  // Pseudo-header state (honoured ones only).
  bool hasFolder = false, outbound = false, draft = false, mark = false, hasAccount = false;
  bool unread = false;  // an imported message its former program showed as not yet read
  std::string folder, account;
  bool hasReceived = false;
  bool keptWhole = false;  // a multipart stored whole as one EML part
};

using Stop = MimeStop;

class Splitter {
public:
  Splitter(LineReader& in, PartSink& sink, const SplitOptions& opt, bool textOnly,
           bool attachmentsOnly = false)
      : in_(in), walker_(in), sink_(sink), opt_(opt), textOnly_(textOnly),
        attachmentsOnly_(attachmentsOnly) {}

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

  // ---- header block ----

  static void StoreLine(Entity& e, std::string_view text, bool continuation) {
    // Cut at the limit rather than dropped, so what is kept never depends on how lines arrive.
    if (e.linesBytes >= kMaxHeaderLinesBytes) return;
    text = text.substr(0, kMaxHeaderLinesBytes - e.linesBytes);
    e.linesBytes += text.size();
    if (continuation && !e.lines.empty())
      e.lines.back().append(text);
    else
      e.lines.emplace_back(text);
  }

  // Collects one entity's header block.
  class EntityHeaders : public HeaderSink {
  public:
    EntityHeaders(Splitter& s, Entity& e) : s_(s), e_(e) {}

    void Line(std::string_view text, LineKind kind) override {
      if (kind == LineKind::NewHeader) curLine_ = e_.lines.size();
      StoreLine(e_, text, kind == LineKind::Rest);
    }

    void Header(std::string_view header) override {
      ++headerNo_;
      int h = MatchHeader(header);
      if (h < 0) return;
      std::string headerCharset;
      std::string value = CleanHeaderValue(header.substr(kHeaderNames[h].size()), &headerCharset);
      if (!headerCharset.empty()) e_.wordCharset = headerCharset;
      if (IsPseudo(h)) {
        pseudoLines_.emplace_back(curLine_, h);
        if (e_.topLevel && s_.opt_.trust == SourceTrust::Trusted) {
          s_.ApplyPseudo(e_, h, value);
        } else if (e_.topLevel && s_.opt_.trust == SourceTrust::Receiver && h == kAccount) {
          tentative_ = true;
          tentativeAccount_ = value;
          accountHeaderNo_ = headerNo_;
        }
        return;
      }
      s_.ApplyHeader(e_, h, value, headerCharset);
    }

    // After the block: pseudo-headers that do not count are neutralised in the kept lines.
    void Finish() {
      // The receiver's account line counts only when it is the last header of the block.
      bool accountHonoured = tentative_ && accountHeaderNo_ == headerNo_;
      if (accountHonoured) s_.ApplyPseudo(e_, kAccount, tentativeAccount_);
      bool trusted = e_.topLevel && s_.opt_.trust == SourceTrust::Trusted;
      for (size_t i = 0; i < pseudoLines_.size(); ++i) {
        auto [line, h] = pseudoLines_[i];
        bool honoured = trusted || (accountHonoured && h == kAccount && i + 1 == pseudoLines_.size() &&
                                    line + 1 >= e_.lines.size());
        if (!honoured && line < e_.lines.size()) e_.lines[line].insert(0, kNeutralisedPrefix);
      }
    }

  private:
    Splitter& s_;
    Entity& e_;
    size_t headerNo_ = 0, curLine_ = 0, accountHeaderNo_ = 0;
    std::vector<std::pair<size_t, int>> pseudoLines_;  // line index, header
    std::string tentativeAccount_;
    bool tentative_ = false;
  };

  Stop ReadHeaders(Entity& e) {
    if (Stopped()) return {Stop::Eof, 0};
    EntityHeaders headers(*this, e);
    Stop s = walker_.ReadHeaderBlock(headers, kMaxHeaderValue);
    headers.Finish();
    return s;
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
      case kUnread: e.unread = true; break;
      case kAccount: e.hasAccount = true; e.account = value; break;
      case kProgram: e.mark = true; break;
      default: break;
    }
  }

  // The file name of a Content-Type or Content-Disposition value: "name=" (also found inside
  // "filename="), else an RFC 2231 "name*=" value (charset'language'percent-encoded text).
  // False, and the entity unchanged, when the value names no file.
  static bool TakeFileName(Entity& e, const std::string& value, const std::string& headerCharset) {
    std::string name = HeaderParam(value, "name=");
    std::string charset = headerCharset;
    auto takeExtended = [&](const std::string& ext, bool first) {
      size_t q1 = ext.find('\''), q2 = q1 == std::string::npos ? q1 : ext.find('\'', q1 + 1);
      if (first && q2 != std::string::npos) {
        charset = ext.substr(0, q1);
        name += UrlDecode(ext.substr(q2 + 1));
      } else {
        name += UrlDecode(ext);
      }
    };
    if (name.empty()) takeExtended(HeaderParam(value, "name*="), true);
    if (name.empty()) {
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
        name += plain;
      }
    }
    if (name.empty()) return false;
    e.fileName = std::move(name);
    e.fileNameCharset = std::move(charset);
    e.nameFromParam = true;
    return true;
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
        // The disposition's file name wins over the type's name: senders put other things
        // there ("clock.bmp,69c" beside the file name "clock.bmp").
        if (!e.nameFromDisposition && TakeFileName(e, value, headerCharset)) e.nameFromDisposition = true;
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
    e.cs[h] = headerCharset;
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
        if (i != kContentType && i != kEncoding && e.v[i].empty()) {
          e.v[i] = p->v[i];
          e.cs[i] = p->cs[i];
        }
      if (!e.hasReceived) e.hasReceived = p->hasReceived;
      if (!e.hasFolder && p->hasFolder) {
        e.hasFolder = true;
        e.folder = p->folder;
      }
      e.outbound = e.outbound || p->outbound;
      e.draft = e.draft || p->draft;
      e.unread = e.unread || p->unread;
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

  // The preamble of a multipart: kept aside in case the boundary never comes (then it is the
  // rest of the entity, stored whole); a long one goes to a part of its own as it is read.
  class Preamble : public BodySink {
  public:
    Preamble(Splitter& s, const Entity& e) : s_(s), e_(e) {}
    bool Text(std::string_view text, bool) override {
      if (!TrimView(text).empty()) nonBlank_ = true;
      return Add(text);
    }
    bool Break() override { return Add("\r\n"); }

    // The boundary never came: the text is the entity, kept whole.
    void Keep() {
      if (s_.attachmentsOnly_ || !nonBlank_) {
        Drop();
        return;
      }
      if (!spilled_ && !Start()) return;
      if (!s_.WritePart(pre_)) return;
      s_.EndPart(e_, true);
    }
    void Drop() {
      if (spilled_) s_.sink_.Abort();
      spilled_ = false;
      pre_.clear();
      pre_.shrink_to_fit();
    }

  private:
    bool Start() {
      if (!s_.BeginPart()) return false;
      std::string head;
      HeaderChain(e_, head);
      head += "\r\n";
      spilled_ = true;
      return s_.WritePart(head);
    }
    bool Add(std::string_view bytes) {
      if (s_.attachmentsOnly_) return true;  // only whether there was any text matters
      pre_.append(bytes);
      if (pre_.size() <= kMaxPreambleInMemory) return true;
      if (!spilled_ && !Start()) return false;
      if (!s_.WritePart(pre_)) return false;
      pre_.clear();
      return true;
    }
    Splitter& s_;
    const Entity& e_;
    std::string pre_;
    bool spilled_ = false, nonBlank_ = false;
  };

  Stop ParseMultipart(Entity& e, int depth) {
    const size_t my = walker_.Open(e.boundary);
    Stop s;
    {
      Preamble pre(*this, e);
      s = walker_.ReadBody(pre);
      if (Stopped()) {
        pre.Drop();
        walker_.Close();
        return {Stop::Eof, 0};
      }
      if (s.kind != Stop::Delim || s.level != my) {
        walker_.Close();
        pre.Keep();
        if (s.kind == Stop::Close && s.level == my) return walker_.Skip();
        return s;
      }
      pre.Drop();
    }
    for (;;) {
      Entity child;
      child.parent = &e;
      s = ParseEntity(child, depth + 1);
      if (Stopped()) {
        walker_.Close();
        return {Stop::Eof, 0};
      }
      if (s.kind == Stop::Delim && s.level == my) continue;
      if (s.kind == Stop::Close && s.level == my) break;
      walker_.Close();
      return s;  // end of input, or an enclosing boundary
    }
    walker_.Close();
    return walker_.Skip();  // the epilogue, up to an enclosing boundary
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

  // A leaf body decoded into its part; notes whether a multipart kept whole holds attached
  // files inside it.
  class LeafBody : public BodySink {
  public:
    LeafBody(BodyDecoder& decoder, const Entity& e) : decoder_(decoder), e_(e) {}
    bool Text(std::string_view text, bool lineStart) override {
      if (lineStart && e_.keptWhole && !holdsMixed && !text.empty() &&
          (text[0] == ' ' || text[0] == '\t' || StartsWithNoCase(text, "content-type")) &&
          ContainsNoCase(text, "multipart/mixed"))
        holdsMixed = true;
      return decoder_.Text(text, lineStart);
    }
    bool Break() override { return decoder_.Break(); }
    bool holdsMixed = false;

  private:
    BodyDecoder& decoder_;
    const Entity& e_;
  };

  Stop ParseLeaf(Entity& e) {
    if (attachmentsOnly_ && (e.eml || !e.nameFromParam || !e.parent || parts_ >= opt_.maxParts ||
                             !e.parent->type.starts_with("multipart/mixed")))
      return walker_.Skip();
    if (!attachmentsOnly_ && parts_ + 1 >= opt_.maxParts) {
      // Too many parts: the rest of the message becomes this one part, undecoded.
      walker_.IgnoreBoundaries();
      e.eml = true;
    }
    TransferEncoding encoding = e.eml ? TransferEncoding::Identity : TransferEncodingOf(e.v[kEncoding]);
    if (!BeginPart()) return {Stop::Eof, 0};
    BodyDecoder decoder(encoding, [this](std::string_view b) { return WritePart(b); }, kOutChunk);
    if (e.eml) {
      std::string head;
      HeaderChain(e, head);
      head += "\r\n";
      decoder.Raw(head);
    }
    LeafBody body(decoder, e);
    Stop s = walker_.ReadBody(body);
    if (in_.failed()) {
      if (!sinkFailed_) sink_.Abort();  // a part cut short by a read error is not kept
      return {Stop::Eof, 0};
    }
    if (!decoder.Finish() || sinkFailed_) return {Stop::Eof, 0};
    if (body.holdsMixed) sink_.KeptWhole();
    EndPart(e, e.eml);
    return s;
  }

  // The header lines of the entity and its ancestors (outermost first), keeping only the last
  // Content-Type header. The entity's own lines are kept whole; of its ancestors only the lines
  // a reader of the part needs (who, when, what about, which MIME), each name once and within a
  // small total, so that many parts kept whole under one large header block do not each carry
  // a copy of all of it.
  static void HeaderChain(const Entity& e, std::string& out) {
    static constexpr std::string_view kWanted[] = {
        "From", "To", "CC", "Subject", "Date", "Reply-To", "Sender", "Message-ID",
        "In-Reply-To", "References", "MIME-Version", "Content-Type", "_Folder", "_Outbound",
        "_Draft", "X-Plumadex-Account", "$$$Plumadex$$$"};
    std::vector<const Entity*> chain;
    for (const Entity* p = &e; p; p = p->parent) chain.push_back(p);
    auto isStart = [](const std::string& l) { return !l.empty() && l[0] != ' ' && l[0] != '\t'; };
    auto wantedIndex = [](const std::string& l) -> int {
      for (size_t i = 0; i < std::size(kWanted); ++i)
        if (HeaderNameMatches(l, kWanted[i])) return static_cast<int>(i);
      return -1;
    };
    const std::string* lastType = nullptr;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
      for (const auto& l : (*it)->lines)
        if (isStart(l) && HeaderNameMatches(l, "Content-Type")) lastType = &l;
    // Ancestors' lines: each wanted name once (the innermost ancestor's first), within a budget.
    bool seen[std::size(kWanted)] = {};
    size_t budget = kMaxAncestorHeaderBytes;
    std::vector<std::vector<bool>> keepOf(chain.size());
    for (size_t c = 1; c < chain.size(); ++c) {
      const auto& lines = chain[c]->lines;
      keepOf[c].assign(lines.size(), false);
      bool on = false;
      for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (isStart(l)) {
          const int w = wantedIndex(l);
          on = (&l == lastType) ||
               (w >= 0 && !seen[w] && !HeaderNameMatches(l, "Content-Type") && l.size() <= budget);
          if (on && &l != lastType) seen[w] = true;
        } else if (on && l.size() > budget) {
          on = false;
        }
        if (on) {
          keepOf[c][i] = true;
          budget -= std::min(budget, l.size());
        }
      }
    }
    bool skipping = false;
    for (size_t c = chain.size(); c-- > 0;) {
      const auto& lines = chain[c]->lines;
      for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (c > 0) {
          if (!keepOf[c][i]) continue;
        } else {
          if (isStart(l)) skipping = (&l != lastType) && HeaderNameMatches(l, "Content-Type");
          if (skipping) continue;
        }
        out += l;
        out += "\r\n";
      }
    }
  }

  PartDescriptor Describe(const Entity& e, bool asEml) const {
    // The descriptor's text is in the charset its "Charset:" line names (part_descriptor.h): a
    // text part keeps its own charset; a named part that is not text has none, and its text
    // goes in UTF-8.
    const std::string& partCharset = e.v[kCharset];
    std::string nameCharset = e.fileNameCharset;
    if (nameCharset.empty() && !IsValidUtf8(e.fileName))
      nameCharset = partCharset.empty() ? DefaultCharsetName() : partCharset;
    std::string name = CleanAttachmentName(e.fileName, nameCharset);
    const bool named = !name.empty();
    const std::string target = named && !asEml && !e.type.starts_with("text/") ? std::string() : partCharset;
    auto text = [&](int h) { return Recode(e.v[h], e.cs[h].empty() ? partCharset : e.cs[h], target); };

    PartDescriptor d;
    d.to = text(kTo);
    d.from = text(kFrom);
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
    if (named) {
      d.name = Recode(name, "utf-8", target);
    } else {
      // Named after its Subject: no control characters in it, as in any other name.
      d.name = text(kSubject);
      for (char& c : d.name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    }
    static const std::pair<int, std::string_view> kTags[] = {
        {kTo, "To: "}, {kDate, "Date: "}, {kReplyTo, "Reply-To: "}, {kCC, "CC: "}};
    for (auto [h, tag] : kTags)
      if (!e.v[h].empty()) d.AddTag(tag, h == kDate ? e.v[h] : text(h));
    if (!target.empty()) d.AddTag("Charset: ", target);
    // The message's place in its thread, for the In-Reply-To and References of a reply.
    if (std::string id = MessageIdList(e.v[kMessageId], 1); !id.empty()) d.AddTag("Message-ID: ", id);
    std::string thread = MessageIdList(e.v[kReferences], kMaxReferences);
    if (thread.empty()) thread = MessageIdList(e.v[kInReplyTo], 1);
    if (!thread.empty()) d.AddTag("References: ", thread);
    // A picture the message's HTML shows by "cid:" finds its part by this id.
    if (!asEml)
      if (std::string cid = ContentIdOf(e.v[kContentId]); !cid.empty()) d.AddTag("Content-ID: ", cid);
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
      if (own) d.AddLine("_Outbound");
      else if (!e.unread) d.AddLine("_Read");
    }
    if (e.hasFolder) d.AddTag("_Folder: ", e.folder);
    if (e.hasAccount) d.AddTag("X-Plumadex-Account: ", e.account);
    return d;
  }

  LineReader& in_;
  MimeWalker walker_;
  PartSink& sink_;
  const SplitOptions& opt_;
  bool textOnly_;
  bool attachmentsOnly_;
  size_t parts_ = 0;
  bool sinkFailed_ = false;
};

// Writes the parts into the spool. Content files go into place as they are finished; the
// descriptors follow at the end, with the group's message ids, so the filer never sees a
// descriptor without its content or an incomplete group.
class SpoolSink : public PartSink {
public:
  // budget: the most bytes (contents and descriptors) one message may write; 0 = no limit.
  SpoolSink(MailSpool& spool, uint64_t budget, std::string prefix = {})
      : spool_(spool), budget_(budget), prefix_(std::move(prefix)) {}

  bool Begin() override {
    name_ = NextName();
    if (!writer_.Open(spool_, name_, kContentExt)) return Fail();
    return true;
  }
  bool Write(std::string_view bytes) override {
    if (!Spend(bytes.size())) return false;
    return writer_.Write(bytes) || Fail();
  }
  bool End(PartDescriptor d) override {
    size_t descriptorBytes = d.to.size() + d.from.size() + d.kind.size() + d.name.size() + 16;
    for (const auto& t : d.tagged) descriptorBytes += t.size() + 2;
    if (!Spend(descriptorBytes)) return false;
    for (int attempt = 0; !writer_.CommitAs(name_); ++attempt) {
      if (writer_.error() != EEXIST || attempt > 10) return Fail();
      name_ = NextName();
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
        const int e = errno;
        ok = false;
        if (error_.empty()) {
          error_ = err;
          errorCode_ = e;
        }
        spool_.Remove(name, kContentExt);  // a content file without descriptor is of no use
      }
    }
    if (spool_.sync()) spool_.SyncFolder();
    return ok;
  }

  const std::string& error() const { return error_; }
  int errorCode() const { return errorCode_; }
  bool OverBudget() const { return overBudget_; }

  // Takes back every part made so far.
  void DropAll() {
    writer_.Discard();
    for (const auto& [name, d] : done_) spool_.Remove(name, kContentExt);
    done_.clear();
    keptWhole_.clear();
    nextKeptWhole_ = false;
    written_ = 0;
    overBudget_ = false;
    error_.clear();
    errorCode_ = 0;
    counter_ = 0;
  }
  // Takes back every pair made, descriptors too (after Finish).
  void RemoveAll(const std::vector<std::string>& names) {
    for (const auto& n : names) spool_.Remove(n, kDescriptorExt);
    for (const auto& [name, d] : done_) spool_.Remove(name, kContentExt);
    done_.clear();
  }
  void SetBudget(uint64_t budget) { budget_ = budget; }

private:
  bool Spend(size_t bytes) {
    written_ += bytes;
    if (budget_ == 0 || written_ <= budget_) return true;
    overBudget_ = true;
    if (error_.empty()) error_ = "The message would take too much room when split.";
    writer_.Discard();
    return false;
  }
  bool Fail() {
    if (error_.empty()) {
      error_ = writer_.errorText();
      errorCode_ = writer_.error();
    }
    writer_.Discard();
    return false;
  }
  std::string NextName() {
    if (prefix_.empty()) return spool_.NewName();
    char buf[16];
    std::snprintf(buf, sizeof buf, "_%03u", ++counter_);
    return prefix_ + buf;
  }
  // Passes an attached file's part on with the lines of the message it was found in.
  class CoverSink : public PartSink {
  public:
    CoverSink(SpoolSink& owner, PartDescriptor cover) : owner_(owner), cover_(std::move(cover)) {}
    bool Begin() override { return owner_.Begin(); }
    bool Write(std::string_view bytes) override { return owner_.Write(bytes); }
    bool End(PartDescriptor d) override {
      // The message's lines, with the file's own name, kind and charset (a file's text lines
      // follow its charset, which is not the message's).
      PartDescriptor r = cover_;
      r.kind = d.kind;
      r.name = d.name;
      r.to = d.to;
      r.from = d.from;
      auto charsetBound = [](const std::string& t) {
        return StartsWithNoCase(t, "To:") || StartsWithNoCase(t, "CC:") ||
               StartsWithNoCase(t, "Reply-To:") || StartsWithNoCase(t, "Charset:");
      };
      std::erase_if(r.tagged, charsetBound);
      std::vector<std::string> own;
      for (const std::string& t : d.tagged)
        if (charsetBound(t)) own.push_back(t);
      r.tagged.insert(r.tagged.begin(), own.begin(), own.end());
      return owner_.End(std::move(r));
    }
    void Abort() override { owner_.Abort(); }

  private:
    SpoolSink& owner_;
    PartDescriptor cover_;
  };

  MailSpool& spool_;
  uint64_t budget_ = 0;
  std::string prefix_;
  unsigned counter_ = 0;
  int errorCode_ = 0;
  uint64_t written_ = 0;
  bool overBudget_ = false;
  SpoolFileWriter writer_;
  std::string name_;
  std::vector<std::pair<std::string, PartDescriptor>> done_;
  std::vector<bool> keptWhole_;
  bool nextKeptWhole_ = false;
  std::string error_;
};

// What splitting one message may write: a small multiple of its size plus room for the
// descriptors of a small message. Parts kept whole copy their headers, and attached files
// inside them are extracted once more, so an honest message stays well below this.
constexpr uint64_t kOutputFactor = 4;
constexpr uint64_t kOutputAllowance = 1u << 20;

// open: (re)opens the message from its start; size: its length in bytes.
SplitResult RunSpoolSplit(const std::function<bool(LineReader&)>& open, uint64_t size,
                          MailSpool& spool, const SplitOptions& options, std::string_view source) {
  SplitResult r;
  SpoolSink sink(spool, size * kOutputFactor + kOutputAllowance, options.partPrefix);
  auto in = std::make_unique<LineReader>();
  if (!open(*in)) {
    r.status = SplitStatus::CannotOpen;
    r.error = "Cannot open " + std::string(source) + "\r\rError " + std::to_string(in->error()) +
              ": " + std::strerror(in->error());
    return r;
  }
  SplitSummary s = SplitMessage(*in, sink, options);
  bool ok = !s.readFailed && !s.sinkFailed;
  if (ok && !sink.ExtractFromKeptWhole(options)) ok = false;
  if (sink.OverBudget()) {
    // Split, it would multiply itself (many parts kept whole under large headers): the message
    // is kept whole as one document instead, as it came.
    sink.DropAll();
    sink.SetBudget(0);
    SplitOptions whole = options;
    whole.maxDepth = 0;
    in = std::make_unique<LineReader>();
    if (!open(*in)) {
      s = SplitSummary{};
      s.readFailed = true;
    } else {
      s = SplitMessage(*in, sink, whole);
    }
    ok = !s.readFailed && !s.sinkFailed;
  }
  bool written = sink.Finish(ok, r.parts);
  r.outbound = s.outbound;
  r.to = s.to;
  if (!ok || !written) {
    r.status = SplitStatus::Failed;
    if (s.readFailed) {
      r.error = "Cannot read " + std::string(source) + "\r\rError " + std::to_string(in->error()) +
                ": " + std::strerror(in->error());
      r.errorCode = in->error();
    } else {
      r.error = sink.error();
      r.errorCode = sink.errorCode();
    }
    if (!options.partPrefix.empty()) {
      // A message split under its own name is all or nothing: what was made goes again.
      sink.RemoveAll(r.parts);
      r.parts.clear();
    }
    if (IsResourceError(r.errorCode)) r.status = SplitStatus::NoRoom;
  }
  return r;
}

}  // namespace

SplitSummary SplitMessage(LineReader& in, PartSink& sink, const SplitOptions& options, bool textOnly) {
  Splitter splitter(in, sink, options, textOnly);
  return splitter.Run();
}

SplitResult SplitMessageFile(const std::string& path, MailSpool& spool, const SplitOptions& options) {
  struct stat st{};
  const uint64_t size = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return RunSpoolSplit([&path](LineReader& in) { return in.OpenFile(path); }, size, spool, options,
                       path);
}

SplitResult SplitMessageBytes(std::string_view bytes, MailSpool& spool, const SplitOptions& options) {
  return RunSpoolSplit([bytes](LineReader& in) {
    in.OpenMemory(bytes);
    return true;
  }, bytes.size(), spool, options, "message");
}

void RemoveSplitLeftovers(MailSpool& spool, std::string_view name) {
  const std::string first = std::string(name) + "_001";
  if (!spool.Exists(first, kContentExt) && !spool.Exists(first, kDescriptorExt)) return;
  const std::string prefix = std::string(name) + "_";
  for (auto ext : {kDescriptorExt, kContentExt})
    for (const auto& n : spool.List(ext)) {
      if (n.size() < prefix.size() + 3 || !n.starts_with(prefix)) continue;
      std::string_view rest = std::string_view(n).substr(prefix.size());
      if (rest.find_first_not_of("0123456789") != std::string_view::npos) continue;
      spool.Remove(n, ext);
    }
}

SplitResult SplitSpoolMessage(MailSpool& spool, std::string_view name, const SplitOptions& options,
                              bool keepRaw) {
  std::string path = spool.PathOf(name, kRawExt);
  // An earlier split of this message that did not finish (the raw message is still here, so
  // none of its pairs was filed) is undone first.
  RemoveSplitLeftovers(spool, name);
  SplitOptions named = options;
  named.partPrefix = std::string(name);
  SplitResult r = SplitMessageFile(path, spool, named);
  if (r.status == SplitStatus::CannotOpen || r.status == SplitStatus::NoRoom) return r;
  if (r.ok()) {
    if (keepRaw) return r;
    // Every pair is on the disk (and flushed) before the raw message goes.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      const int e = errno;
      r.status = SplitStatus::Failed;
      r.error = FileErrorText("delete", path, {}, e);
      r.errorCode = e;
      // The message stays; its pairs go, or the next run would file it twice.
      for (const auto& n : r.parts) {
        spool.Remove(n, kDescriptorExt);
        spool.Remove(n, kContentExt);
      }
      r.parts.clear();
    }
    return r;
  }
  std::string err;
  if (!spool.MarkFailed(name, &err)) r.error += "\r" + err;
  return r;
}

}  // namespace px::mailformat
