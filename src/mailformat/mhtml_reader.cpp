#include "mailformat/mhtml_reader.h"

#include "foundation/atomic_file.h"
#include "foundation/fd_io.h"

#include <cerrno>
#include <fcntl.h>
#include <unordered_map>
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
#include "mailformat/mime_walker.h"

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

using Stop = MimeStop;

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

class Reader {
public:
  Reader(LineReader& in, const std::string& tempFolder, RandomSource& random, MhtmlDocument& doc,
         const MhtmlLimits& limits)
      : in_(in), walker_(in), tempFolder_(tempFolder), random_(random), doc_(doc), limits_(limits) {}

  bool Run() {
    ReadHeader(doc_.header);
    std::string type = Lower(TrimView(doc_.header.contentType));
    if (type.empty()) type = "text/plain";  // a message without MIME headers is plain text
    if (type.starts_with("text")) {
      StringOut out(doc_.html);
      plainText_ = type.starts_with("text/plain");
      htmlCharset_ = doc_.header.charset;
      Decode(doc_.header, out);
      // The document's last line break ends the file, not the text shown.
      if (doc_.html.ends_with("\r\n")) doc_.html.resize(doc_.html.size() - 2);
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
    if (cs.empty() && !IsValidUtf8(doc_.html)) cs = DefaultCharsetName();
    if (!cs.empty()) doc_.html = DecodeFromCharset(doc_.html, cs);
    if (plainText_) doc_.html = PlainToHtml(doc_.html);
    return true;
  }

private:
  class MsgHeaderSink : public HeaderSink {
  public:
    explicit MsgHeaderSink(TMsgHeader& h) : h_(h) {}
    void Header(std::string_view header) override { ReadMsgHeaderLine(header, h_); }
  private:
    TMsgHeader& h_;
  };

  // Reads a header block up to its empty line (or a boundary, or the end).
  Stop ReadHeader(TMsgHeader& h) {
    MsgHeaderSink sink(h);
    return walker_.ReadHeaderBlock(sink, kMaxHeader);
  }

  // Decodes a body up to the next boundary line (or the end) into out.
  Stop Decode(const TMsgHeader& h, BodyOut& out) {
    BodyDecoder decoder(TransferEncodingOf(h.transferEncoding),
                        [&out](std::string_view b) { return out.Put(b); });
    Stop s = walker_.ReadBody(decoder);
    if (!decoder.Finish()) failed_ = true;
    return s;
  }

  Stop Skip() { return walker_.Skip(); }

  // Walks the parts of a multipart entity; returns the stop that ended it (the end of the
  // input or a boundary of an enclosing entity).
  Stop Walk(const std::string& boundary, bool related, int depth, bool mixed = false) {
    if (boundary.size() <= 2 || depth > limits_.maxDepth) return Skip();
    const size_t my = walker_.Open(boundary);
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
    walker_.Close();
    if (s.kind == Stop::Close && s.level == my) return Skip();  // epilogue, up to an enclosing boundary
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
    name = SafeFileName(name, name.size() + 1);
    std::string_view t = TrimView(name);
    if (t.empty() || t == "." || t == "..") name = "resource";
    if (name[0] == '.') name[0] = '_';
    if (name.starts_with("$$")) name[0] = '_';
    if (SameText(name, "Plumadex.ini")) name.insert(name.begin(), '_');
    if (name.size() > 200) {
      // Cut the stem, not the extension, on a character boundary.
      std::string ext;
      const size_t dot = name.rfind('.');
      if (dot != std::string::npos && dot > 0 && name.size() - dot <= 17) ext = name.substr(dot);
      size_t n = 200 - ext.size();
      while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
      name = name.substr(0, n) + ext;
    }
    return name;
  }

  // Puts the written resource in the resource folder under the cleaned name, made unique. The
  // next number to try is kept per name, so many parts of one name do not each test every
  // " (n)" from the start. 0 or errno.
  int PlaceResource(AtomicFile& file, const std::string& wanted, std::string& path) {
    std::string stem = wanted, ext;
    size_t dot = wanted.rfind('.');
    if (dot != std::string::npos && dot > 0) {
      stem = wanted.substr(0, dot);
      ext = wanted.substr(dot);
    }
    int& next = nextNumber_[wanted];
    for (int n = std::max(next, 1), tries = 0; tries < 100000; ++n, ++tries) {
      path = doc_.resourceFolder + (n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + ext;
      file.SetPath(path);
      const int err = file.Commit(false);
      if (err != EEXIST) {
        if (!err) next = n + 1;
        return err;
      }
    }
    return EEXIST;
  }

  Stop Extract(const TMsgHeader& h) {
    if (extracted_ >= limits_.maxResources) return Skip();
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
    // The first resource of a reference wins: a later part of the same one is never shown.
    if (doc_.references.count(key)) return Skip();
    if (!EnsureResourceFolder()) {
      failed_ = true;
      return Skip();
    }
    ++extracted_;
    // Written under a temporary name, then given its own; a scratch copy, never flushed.
    AtomicFile file(doc_.resourceFolder + wanted);
    file.SetSync(false);
    if (file.Open() != 0) {
      failed_ = true;
      return Skip();
    }
    FileOut out(file.fd());
    Stop s = Decode(h, out);
    std::string path;
    if (PlaceResource(file, wanted, path) != 0) {
      failed_ = true;
      return s;
    }
    doc_.references.emplace(key, path);  // the first resource of a reference wins
    return s;
  }

  std::unordered_map<std::string, int> nextNumber_;  // per wanted name: the next " (n)" to try
  size_t extracted_ = 0;
  LineReader& in_;
  MimeWalker walker_;
  const std::string& tempFolder_;
  RandomSource& random_;
  MhtmlDocument& doc_;
  const MhtmlLimits& limits_;
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

bool ReadMhtmlStream(LineReader& in, const std::string& tempFolder, RandomSource& random,
                     MhtmlDocument& doc, const MhtmlLimits& limits) {
  return ReadWith(in, tempFolder, random, doc, limits);
}

bool ReadMhtmlMemory(std::string_view bytes, const std::string& tempFolder, RandomSource& random,
                     MhtmlDocument& doc, const MhtmlLimits& limits) {
  LineReader in(16);
  in.OpenMemory(bytes);
  return ReadWith(in, tempFolder, random, doc, limits);
}

}  // namespace px::mailformat
