#include "mailformat/mhtml_loader.h"

#include <QDateTime>
#include <QMimeDatabase>

#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "foundation/charset.h"
#include "foundation/strings.h"
#include "mailformat/codecs.h"
#include "mailformat/mime_header.h"

namespace px::mailformat {

namespace fs = std::filesystem;

std::string ReferenceKey(std::string_view reference) {
  std::string_view r = TrimView(reference);
  return SlashesToBackslashes(FileUrlToPath(r));
}

namespace {

using LineList = std::vector<std::string_view>;

LineList SplitLines(std::string_view bytes) {
  LineList lines;
  lines.reserve(bytes.size() / 60 + 1);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t lf = bytes.find('\n', start);
    size_t end = lf == std::string_view::npos ? bytes.size() : lf;
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return lines;
}

std::string AsciiLowerCopy(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

void ApplyHeader(std::string_view line, TMsgHeader& h) {
  auto value = [&](std::string_view name) { return CleanHeaderValue(line.substr(name.size()), nullptr); };
  if (HeaderNameMatches(line, "Content-Type")) {
    std::string v = value("Content-Type");
    h.contentType = HeaderParam(v, "");
    h.type = HeaderParam(v, "type=");
    h.charset = HeaderParam(v, "charset=");
    std::string b = HeaderParam(v, "boundary=");
    h.boundary = b.empty() ? std::string() : "--" + b;
  } else if (HeaderNameMatches(line, "Content-ID")) {
    std::string v = value("Content-ID");
    if (v.size() >= 2 && v.front() == '<' && v.back() == '>') v = v.substr(1, v.size() - 2);
    h.contentId = v;
  } else if (HeaderNameMatches(line, "Content-Location")) {
    h.contentLocation = value("Content-Location");
  } else if (HeaderNameMatches(line, "Content-Transfer-Encoding")) {
    h.transferEncoding = value("Content-Transfer-Encoding");
  } else if (HeaderNameMatches(line, "X-MimeOLE")) {
    h.mimeOle = value("X-MimeOLE");
  } else if (HeaderNameMatches(line, "MIME-Version")) {
    h.mimeVersion = value("MIME-Version");
  }
}

// Reads the header block at lines[pos...end) up to and including its empty line.
TMsgHeader ReadHeader(const LineList& lines, size_t& pos, size_t end) {
  TMsgHeader h;
  std::string current;
  bool have = false;
  for (; pos < end; ++pos) {
    std::string_view line = lines[pos];
    if (line.empty()) {
      ++pos;
      break;
    }
    if ((line[0] == ' ' || line[0] == '\t') && have) {
      current += ' ';
      current.append(TrimView(line));
      continue;
    }
    if (have) ApplyHeader(current, h);
    current.assign(line);
    have = true;
  }
  if (have) ApplyHeader(current, h);
  return h;
}

bool IsBoundary(std::string_view line, std::string_view boundary, bool* closing) {
  if (boundary.empty() || line.size() < boundary.size() || line.compare(0, boundary.size(), boundary) != 0)
    return false;
  std::string_view rest = TrimRightView(line.substr(boundary.size()));
  if (rest.empty()) {
    *closing = false;
    return true;
  }
  if (rest == "--") {
    *closing = true;
    return true;
  }
  return false;
}

std::string DecodeBody(const LineList& lines, size_t begin, size_t end, std::string_view encoding) {
  std::string enc = AsciiLowerCopy(TrimView(encoding));
  std::string out;
  if (enc == "base64") {
    Base64Decoder d;
    for (size_t i = begin; i < end; ++i) d.Feed(lines[i], out);
    d.Finish(out);
  } else if (enc == "quoted-printable") {
    QPDecoder d;
    for (size_t i = begin; i < end; ++i) {
      if (i > begin) d.Feed("\r\n", out);
      d.Feed(lines[i], out);
    }
    d.Finish(out);
  } else if (enc == "uuencode" || enc == "x-uuencode" || enc == "uue" || enc == "x-uue") {
    UUDecoder d;
    for (size_t i = begin; i < end; ++i) {
      d.Feed(lines[i], out);
      d.Feed("\n", out);
    }
    d.Finish(out);
    if (!d.SawBegin())  // bare data lines without "begin"
      for (size_t i = begin; i < end; ++i) out += UUDecodeLine(lines[i]);
  } else {
    for (size_t i = begin; i < end; ++i) {
      if (i > begin) out += "\r\n";
      out.append(lines[i]);
    }
  }
  return out;
}

// The charset a META tag of the HTML declares, or "".
std::string MetaCharset(std::string_view html) {
  std::string head = AsciiLowerCopy(html.substr(0, 8192));
  size_t at = 0;
  while ((at = head.find("<meta", at)) != std::string::npos) {
    size_t close = head.find('>', at);
    std::string_view tag = std::string_view(head).substr(at, close == std::string::npos ? std::string::npos : close - at);
    size_t cs = tag.find("charset=");
    if (cs != std::string_view::npos) {
      size_t v = cs + 8;
      if (v < tag.size() && (tag[v] == '"' || tag[v] == '\'')) ++v;
      size_t e = v;
      while (e < tag.size() && std::string_view("\t \"';>/").find(tag[e]) == std::string_view::npos) ++e;
      if (e > v) return std::string(tag.substr(v, e - v));
    }
    at += 5;
  }
  return {};
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    auto c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

std::string PlainToHtml(std::string_view text) {
  std::string html = "<HTML><BODY>\r\n";
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    std::string_view line = text.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    html += HtmlEscape(line);
    html += "<BR>\r\n";
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  html += "</BODY></HTML>\r\n";
  return html;
}

class Loader {
public:
  Loader(const std::string& tempFolder, RandomSource& random, MhtmlDocument& doc, const MhtmlLimits& limits)
      : tempFolder_(tempFolder), random_(random), doc_(doc), limits_(limits) {}

  bool Run(std::string_view bytes) {
    LineList lines = SplitLines(bytes);
    size_t pos = 0;
    doc_.header = ReadHeader(lines, pos, lines.size());
    Entity(doc_.header, lines, pos, lines.size(), 0, false);
    if (failed_) return false;
    if (!haveHtml_ && haveText_) {
      doc_.html = PlainToHtml(ToUtf8(text_, textCharset_));
      doc_.charset = textCharset_;
    }
    return true;
  }

private:
  std::string ToUtf8(const std::string& bytes, std::string& charset) {
    if (charset.empty()) charset = MetaCharset(bytes);
    if (charset.empty()) return IsValidUtf8(bytes) ? bytes : DecodeFromCharset(bytes, DefaultCharsetName());
    return DecodeFromCharset(bytes, charset);
  }

  void Entity(const TMsgHeader& h, const LineList& lines, size_t begin, size_t end, int depth, bool related) {
    if (failed_) return;
    std::string ct = AsciiLowerCopy(h.contentType);
    if (ct.empty()) ct = "text/plain";
    if (ct.rfind("multipart/", 0) == 0) {
      if (depth >= limits_.maxDepth) return;
      bool isRelated = related || ct.rfind("multipart/related", 0) == 0;
      if (isRelated) doc_.related = true;
      Parts(h.boundary, lines, begin, end, depth, isRelated);
      return;
    }
    if (ct.rfind("text/html", 0) == 0) {
      if (haveHtml_) {
        if (related) Resource(h, lines, begin, end);  // an HTML page embedded as a frame
        return;
      }
      std::string bytes = DecodeBody(lines, begin, end, h.transferEncoding);
      doc_.charset = h.charset;
      doc_.html = ToUtf8(bytes, doc_.charset);
      haveHtml_ = true;
      return;
    }
    if (related && (ct.rfind("image", 0) == 0 || ct == "text/css")) {
      Resource(h, lines, begin, end);
      return;
    }
    if (ct.rfind("text/plain", 0) == 0 && !haveText_ && !haveHtml_) {
      text_ = DecodeBody(lines, begin, end, h.transferEncoding);
      textCharset_ = h.charset;
      haveText_ = true;
    }
  }

  void Parts(const std::string& boundary, const LineList& lines, size_t begin, size_t end, int depth,
             bool related) {
    size_t pos = begin;
    bool closing = false;
    while (pos < end && !IsBoundary(lines[pos], boundary, &closing)) ++pos;
    while (pos < end && !closing && pos + 1 < end) {
      size_t partBegin = pos + 1;
      size_t partEnd = partBegin;
      while (partEnd < end && !IsBoundary(lines[partEnd], boundary, &closing)) ++partEnd;
      size_t body = partBegin;
      TMsgHeader h = ReadHeader(lines, body, partEnd);
      Entity(h, lines, body, partEnd, depth + 1, related);
      if (failed_ || partEnd >= end) return;
      pos = partEnd;
    }
  }

  std::string UniqueName(std::string name) {
    for (char& c : name)
      if (c == '/' || c == '\\' || c == ':') c = '_';
    name = SafeFileName(name);
    std::string stem = name, ext;
    if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
      stem = name.substr(0, dot);
      ext = name.substr(dot);
    }
    for (int n = 2; used_.count(name); ++n) name = stem + "_" + std::to_string(n) + ext;
    used_.insert(name);
    return name;
  }

  bool EnsureFolder() {
    if (!doc_.resourceFolder.empty()) return true;
    std::string folder = tempFolder_;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folder += "PX" + QDateTime::currentDateTime().toString("yyyyMMddhhmmsszzz").toStdString() +
              std::to_string(random_.Below(1000000)) + "/";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return false;
    doc_.resourceFolder = folder;
    return true;
  }

  void Resource(const TMsgHeader& h, const LineList& lines, size_t begin, size_t end) {
    if (h.contentLocation.empty() && h.contentId.empty()) return;  // nothing can refer to it
    if (++resources_ > limits_.maxResources) return;
    std::string name;
    if (!h.contentLocation.empty()) {
      std::string loc = h.contentLocation;
      if (size_t q = loc.find_first_of("?#"); q != std::string::npos && loc.find("://") != std::string::npos)
        loc.resize(q);
      size_t slash = loc.find_last_of("/\\");
      name = slash == std::string::npos ? loc : loc.substr(slash + 1);
    }
    if (name.empty()) {
      std::string ext;
      QMimeDatabase db;
      QMimeType t = db.mimeTypeForName(QString::fromStdString(AsciiLowerCopy(h.contentType)));
      if (t.isValid() && !t.preferredSuffix().isEmpty())
        ext = "." + t.preferredSuffix().toStdString();
      else if (h.contentType.size() > 6)
        ext = "." + h.contentType.substr(6);
      name = (h.contentId.empty() ? std::string("resource") : h.contentId) + ext;
    }
    if (!EnsureFolder()) {
      failed_ = true;
      return;
    }
    std::string path = doc_.resourceFolder + UniqueName(name);
    std::string bytes = DecodeBody(lines, begin, end, h.transferEncoding);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) {
      failed_ = true;
      return;
    }
    if (!h.contentLocation.empty()) doc_.references[ReferenceKey(h.contentLocation)] = path;
    if (!h.contentId.empty()) doc_.references["cid:" + h.contentId] = path;
  }

  std::string tempFolder_;
  RandomSource& random_;
  MhtmlDocument& doc_;
  const MhtmlLimits& limits_;
  std::set<std::string, TextLess> used_;
  size_t resources_ = 0;
  bool haveHtml_ = false, haveText_ = false, failed_ = false;
  std::string text_, textCharset_;
};

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && StartsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace

bool ReadMhtmlBytes(std::string_view bytes, std::string_view name, const std::string& tempFolder,
                    RandomSource& random, MhtmlDocument& doc, const MhtmlLimits& limits) {
  doc = MhtmlDocument{};
  if (!EndsWithNoCase(name, ".mht") && !EndsWithNoCase(name, ".eml")) {
    std::string raw(bytes);
    doc.charset = MetaCharset(raw);
    doc.html = doc.charset.empty() ? raw : DecodeFromCharset(raw, doc.charset);
    return true;
  }
  Loader loader(tempFolder, random, doc, limits);
  if (!loader.Run(bytes)) {
    if (!doc.resourceFolder.empty()) {
      std::error_code ec;
      fs::remove_all(doc.resourceFolder, ec);
    }
    doc = MhtmlDocument{};
    return false;
  }
  return true;
}

bool ReadMhtmlDocument(const std::string& path, const std::string& tempFolder, RandomSource& random,
                       MhtmlDocument& doc, const MhtmlLimits& limits) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    doc = MhtmlDocument{};
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (f.bad()) {
    doc = MhtmlDocument{};
    return false;
  }
  return ReadMhtmlBytes(bytes, path, tempFolder, random, doc, limits);
}

}  // namespace px::mailformat
