#include "mailformat/mhtml_reader.h"

#include "foundation/fd_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QMimeDatabase>

#include "foundation/charset.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/line_reader.h"
#include "mailformat/mime_header.h"

namespace px::mailformat {

namespace {

constexpr size_t kMaxHeader = 64 * 1024;
constexpr size_t kMaxHtml = 256u << 20;

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return r;
}

bool IsUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || c == 0xC0 || c == 0xC1 || c > 0xF4 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

struct Stop {
  enum Kind { None, Eof, Delim, Close } kind = None;
  size_t level = 0;
};

// Where a decoded body goes.
class BodyOut {
public:
  virtual ~BodyOut() = default;
  virtual bool Put(std::string_view bytes) = 0;
};

class StringOut : public BodyOut {
public:
  explicit StringOut(std::string& s) : s_(s) { s_.clear(); }
  bool Put(std::string_view b) override {
    if (s_.size() + b.size() > kMaxHtml) return false;
    s_.append(b);
    return true;
  }
private:
  std::string& s_;
};

class FileOut : public BodyOut {
public:
  explicit FileOut(int fd) : fd_(fd) {}
  bool Put(std::string_view b) override { return WriteAllToFd(fd_, b); }
private:
  int fd_;
};

std::string PlainToHtml(std::string_view text);

class NullOut : public BodyOut {
public:
  bool Put(std::string_view) override { return true; }
};

class Reader {
public:
  Reader(LineReader& in, const std::string& tempFolder, RandomSource& random, MhtmlDocument& doc,
         const MhtmlLimits& limits)
      : in_(in), tempFolder_(tempFolder), random_(random), doc_(doc), limits_(limits) {}

  bool Run() {
    ReadHeader(doc_.header);
    std::string type = Lower(TrimView(doc_.header.contentType));
    if (type.empty()) type = "text/plain";  // a message without MIME headers is plain text
    if (type.starts_with("text")) {
      StringOut out(doc_.html);
      plainText_ = type.starts_with("text/plain");
      htmlCharset_ = doc_.header.charset;
      Decode(doc_.header, out);
    } else if (type.starts_with("multipart/related")) {
      doc_.related = true;
      Walk(doc_.header.boundary, /*related=*/true, 0);
    } else if (type.starts_with("multipart/alternative")) {
      Walk(doc_.header.boundary, /*related=*/false, 0);
    } else if (type.starts_with("multipart/")) {
      // A message with attachments (or a signed one): its text is its first part that has one.
      Walk(doc_.header.boundary, /*related=*/false, 0, /*mixed=*/true);
    }
    if (failed_ || in_.failed()) return false;
    doc_.charset = htmlCharset_;
    // Undeclared 8-bit text that is not UTF-8 is in the mail default charset.
    std::string cs = htmlCharset_;
    if (cs.empty() && !IsUtf8(doc_.html)) cs = DefaultCharsetName();
    if (!cs.empty()) doc_.html = DecodeFromCharset(doc_.html, cs);
    if (plainText_) doc_.html = PlainToHtml(doc_.html);
    return true;
  }

private:
  Stop Classify(const LinePiece& p) const {
    if (!p.first || !p.last || bounds_.empty()) return {};
    std::string_view t = p.text;
    if (t.size() < 2 || t[0] != '-' || t[1] != '-') return {};
    for (size_t i = bounds_.size(); i-- > 0;) {
      const std::string& b = bounds_[i];
      if (!t.starts_with(b)) continue;
      std::string_view rest = TrimRightView(t.substr(b.size()));
      if (rest.empty()) return {Stop::Delim, i};
      if (rest == "--") return {Stop::Close, i};
    }
    return {};
  }

  // Reads a header block up to its empty line (or a boundary, or the end).
  Stop ReadHeader(TMsgHeader& h) {
    std::string cur;
    bool have = false;
    LinePiece p;
    Stop result{Stop::Eof, 0};
    while (in_.Next(p)) {
      if (!p.first) {
        if (have && cur.size() < kMaxHeader) cur.append(p.text.substr(0, kMaxHeader - cur.size()));
        continue;
      }
      Stop s = Classify(p);
      if (s.kind != Stop::None) {
        result = s;
        break;
      }
      if (p.text.empty() && p.last) {
        result = {};
        break;
      }
      if (have && (p.text[0] == ' ' || p.text[0] == '\t')) {
        if (cur.size() < kMaxHeader) {
          cur += ' ';
          cur.append(p.text.substr(0, kMaxHeader - cur.size()));
        }
        continue;
      }
      if (have) ReadMsgHeaderLine(cur, h);
      cur.assign(p.text.substr(0, kMaxHeader));
      have = true;
    }
    if (have) ReadMsgHeaderLine(cur, h);
    return result;
  }

  // Decodes a body up to the next boundary line (or the end) into out.
  Stop Decode(const TMsgHeader& h, BodyOut& out) {
    std::string enc = Lower(TrimView(h.transferEncoding));
    enum { Plain, QP, B64, UU } mode = Plain;
    if (enc == "quoted-printable") mode = QP;
    else if (enc == "base64") mode = B64;
    else if (enc == "uuencode" || enc == "x-uuencode" || enc == "uue" || enc == "x-uue") mode = UU;
    Base64Decoder b64;
    QPDecoder qp("\r\n");
    UUDecoder uu;
    std::string buf;
    bool firstLine = true;
    bool writeOk = true;
    Stop s{Stop::Eof, 0};
    LinePiece p;
    while (in_.Next(p)) {
      if (p.first) {
        Stop c = Classify(p);
        if (c.kind != Stop::None) {
          s = c;
          break;
        }
      }
      switch (mode) {
        case B64: b64.Feed(p.text, buf); break;
        case UU:
          uu.Feed(p.text, buf);
          if (p.last) uu.Feed("\n", buf);
          break;
        case QP:
          if (p.first && !firstLine) qp.Feed("\n", buf);
          qp.Feed(p.text, buf);
          break;
        case Plain:
          if (p.first && !firstLine) buf += "\r\n";
          buf.append(p.text);
          break;
      }
      firstLine = false;
      if (buf.size() >= (256u << 10)) {
        if (writeOk && !out.Put(buf)) writeOk = false;
        buf.clear();
      }
    }
    if (mode == B64) b64.Finish(buf);
    if (mode == UU) uu.Finish(buf);
    if (mode == QP) qp.Finish(buf);
    if (writeOk && !out.Put(buf)) writeOk = false;
    if (!writeOk) failed_ = true;
    return s;
  }

  Stop Skip() {
    NullOut n;
    TMsgHeader none;
    return Decode(none, n);
  }

  // Walks the parts of a multipart entity; returns the stop that ended it (the end of the
  // input or a boundary of an enclosing entity).
  Stop Walk(const std::string& boundary, bool related, int depth, bool mixed = false) {
    if (boundary.size() <= 2 || depth > limits_.maxDepth) return Skip();
    bounds_.push_back(boundary);
    const size_t my = bounds_.size() - 1;
    Stop s = Skip();  // preamble
    bool done = false;
    while (!failed_ && s.kind == Stop::Delim && s.level == my) {
      TMsgHeader h;
      s = ReadHeader(h);
      if (s.kind != Stop::None) continue;
      std::string type = Lower(h.contentType);
      if (done) {
        s = Skip();
      } else if (type.starts_with("multipart/alternative") || type.starts_with("multipart/related") ||
                 (mixed && type.starts_with("multipart/"))) {
        bool childRelated = type.starts_with("multipart/related") && (related || mixed);
        bool childMixed = mixed && !type.starts_with("multipart/alternative") && !childRelated;
        if (childRelated) doc_.related = true;
        s = Walk(h.boundary, childRelated, depth + 1, childMixed);
        if (mixed && !doc_.html.empty()) done = true;
        if (s.kind == Stop::Eof) break;
        // The nested walk ended at one of our boundaries (or an outer one).
      } else if (type.starts_with("text/html")) {
        StringOut out(doc_.html);
        plainText_ = false;
        htmlCharset_ = h.charset;
        s = Decode(h, out);
        if (!related) done = true;  // HTML wins over plain text
      } else if (type.starts_with("text/plain") && (!related || doc_.html.empty())) {
        if (doc_.html.empty() || plainText_) {
          StringOut out(doc_.html);
          plainText_ = true;
          htmlCharset_ = h.charset;
          s = Decode(h, out);
          if (mixed) done = true;  // later text parts are attachments
        } else {
          s = Skip();
        }
      } else if (related && (type.starts_with("image") || type.starts_with("text/css"))) {
        s = Extract(h);
      } else {
        s = Skip();
      }
    }
    if (s.kind == Stop::Close && s.level == my) {
      bounds_.pop_back();
      return Skip();  // epilogue, up to an enclosing boundary
    }
    bounds_.pop_back();
    return s;
  }

  bool EnsureResourceFolder() {
    if (!doc_.resourceFolder.empty()) return true;
    std::string name = "PX" +
                       QDateTime::currentDateTime().toString("yyyyMMddhhmmsszzz").toStdString() +
                       std::to_string(random_.Below(1000000)) + "/";
    std::string folder = tempFolder_;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folder += name;
    if (!QDir().mkpath(QString::fromStdString(folder))) return false;
    doc_.resourceFolder = folder;
    return true;
  }

  static std::string CleanName(std::string_view raw) {
    std::string name(TrimView(raw));
    for (char& c : name)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':') c = '_';
    name = SafeFileName(name);
    std::string_view t = TrimView(name);
    if (t.empty() || t == "." || t == "..") name = "resource";
    if (name[0] == '.') name[0] = '_';
    if (name.starts_with("$$")) name[0] = '_';
    if (SameText(name, "Plumadex.ini")) name.insert(name.begin(), '_');
    if (name.size() > 200) name.resize(200);
    return name;
  }

  // Opens a new file in the resource folder under the cleaned name, made unique.
  int CreateResource(const std::string& wanted, std::string& path) {
    std::string stem = wanted, ext;
    size_t dot = wanted.rfind('.');
    if (dot != std::string::npos && dot > 0) {
      stem = wanted.substr(0, dot);
      ext = wanted.substr(dot);
    }
    for (int n = 1; n < 100000; ++n) {
      path = doc_.resourceFolder + (n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + ext;
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
      if (fd >= 0) return fd;
      if (errno != EEXIST) return -1;
    }
    return -1;
  }

  Stop Extract(const TMsgHeader& h) {
    if (doc_.references.size() >= limits_.maxResources) return Skip();
    if (!EnsureResourceFolder()) {
      failed_ = true;
      return Skip();
    }
    std::string key, wanted;
    if (!h.contentLocation.empty()) {
      key = SlashesToBackslashes(FileUrlToPath(h.contentLocation));
      size_t cut = key.find_last_of('\\');
      wanted = CleanName(cut == std::string::npos ? key : key.substr(cut + 1));
    } else {
      key = "cid:" + h.contentId;
      std::string ext;
      QMimeDatabase db;
      QMimeType mt = db.mimeTypeForName(QString::fromStdString(Lower(h.contentType)));
      if (mt.isValid() && !mt.preferredSuffix().isEmpty())
        ext = "." + mt.preferredSuffix().toStdString();
      else if (h.contentType.size() > 6)
        ext = "." + h.contentType.substr(6);
      wanted = CleanName(h.contentId + ext);
    }
    std::string path;
    int fd = CreateResource(wanted, path);
    if (fd < 0) {
      failed_ = true;
      return Skip();
    }
    FileOut out(fd);
    Stop s = Decode(h, out);
    if (::close(fd) != 0) failed_ = true;
    doc_.references.emplace(key, path);  // the first resource of a reference wins
    return s;
  }

  LineReader& in_;
  const std::string& tempFolder_;
  RandomSource& random_;
  MhtmlDocument& doc_;
  const MhtmlLimits& limits_;
  std::vector<std::string> bounds_;
  bool failed_ = false;
  bool plainText_ = false;
  std::string htmlCharset_;
};

// Plain text shown by the HTML editor: escaped, one line per line.
std::string PlainToHtml(std::string_view text) {
  std::string r;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    std::string_view l = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    r += HtmlEscape(l);
    if (nl == std::string_view::npos) break;
    r += "<BR>\r\n";
    start = nl + 1;
  }
  return r;
}

}  // namespace

bool ReadMsgHeaderLine(std::string_view header, TMsgHeader& h) {
  static const std::string_view kNames[] = {"Content-Type", "Content-ID", "Content-Location",
                                            "Content-Transfer-Encoding", "X-MimeOLE", "MIME-Version"};
  for (int i = 0; i < 6; ++i) {
    if (!HeaderNameMatches(header, kNames[i])) continue;
    std::string value = CleanHeaderValue(header.substr(kNames[i].size()), nullptr);
    switch (i) {
      case 0:
        h.contentType = HeaderParam(value, "");
        h.type = HeaderParam(value, "type=");
        h.charset = HeaderParam(value, "charset=");
        {
          std::string b = HeaderParam(value, "boundary=");
          h.boundary = b.empty() ? std::string() : "--" + b;
        }
        break;
      case 1:
        h.contentId = value.size() >= 2 && value.front() == '<' && value.back() == '>'
                          ? value.substr(1, value.size() - 2)
                          : value;
        break;
      case 2: h.contentLocation = value; break;
      case 3: h.transferEncoding = value; break;
      case 4: h.mimeOle = value; break;
      case 5: h.mimeVersion = value; break;
    }
    return true;
  }
  return false;
}

namespace {

bool ReadWith(LineReader& in, const std::string& tempFolder, RandomSource& random,
              MhtmlDocument& doc, const MhtmlLimits& limits) {
  doc = MhtmlDocument();
  Reader reader(in, tempFolder, random, doc, limits);
  if (reader.Run()) return true;
  if (!doc.resourceFolder.empty()) QDir(QString::fromStdString(doc.resourceFolder)).removeRecursively();
  doc = MhtmlDocument();
  return false;
}

}  // namespace

bool ReadMhtmlFile(const std::string& path, const std::string& tempFolder, RandomSource& random,
                   MhtmlDocument& doc, const MhtmlLimits& limits) {
  LineReader in;
  if (!in.OpenFile(path)) {
    doc = MhtmlDocument();
    return false;
  }
  return ReadWith(in, tempFolder, random, doc, limits);
}

bool ReadMhtmlMemory(std::string_view bytes, const std::string& tempFolder, RandomSource& random,
                     MhtmlDocument& doc, const MhtmlLimits& limits) {
  LineReader in(16);
  in.OpenMemory(bytes);
  return ReadWith(in, tempFolder, random, doc, limits);
}

}  // namespace px::mailformat
