#include "mailformat/mhtml_writer.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "foundation/atomic_file.h"
#include "foundation/charset.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/html_refs.h"
#include "mailformat/mime_header.h"

namespace px::mailformat {

namespace fs = std::filesystem;

std::string HtmlEditor::Text() const {
  auto r = HtmlToText(Html());
  std::string out;
  for (size_t i = 0; i < r.lines.size(); ++i) {
    if (i) out += "\r\n";
    out += r.lines[i];
  }
  return out;
}

namespace {

std::string Hex(uint64_t v, int digits) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string Boundary(int level, RandomSource& random) {
  return "----=_NextPart_00" + std::to_string(level) + "_0000_" + Hex(random.Below(1ull << 32), 8) + "." +
         Hex(random.Below(1ull << 32), 8);
}

std::string ContentId(RandomSource& random) {
  return Hex(random.Below(65535), 4) + Hex(random.Below(1ull << 32), 8) + "$" + Hex(random.Below(1ull << 32), 8) +
         "$" + Hex(random.Below(1ull << 32), 8);
}

bool IsUtf8Label(std::string_view cs) {
  return cs.empty() || SameText(cs, "utf-8") || SameText(cs, "utf8") || SameText(cs, "unicode");
}

// Replaces the value of every META "charset=" declaration.
std::string SetMetaCharset(std::string_view html, std::string_view charset) {
  std::string out;
  out.reserve(html.size() + 16);
  size_t pos = 0;
  while (pos < html.size()) {
    size_t lt = html.find('<', pos);
    if (lt == std::string_view::npos || lt + 5 > html.size() || !StartsWithNoCase(html.substr(lt + 1), "meta")) {
      size_t next = lt == std::string_view::npos ? html.size() : lt + 1;
      out.append(html.substr(pos, next - pos));
      pos = next;
      continue;
    }
    size_t gt = html.find('>', lt);
    size_t end = gt == std::string_view::npos ? html.size() : gt;
    std::string_view tag = html.substr(lt, end - lt);
    size_t cs = std::string_view::npos;
    for (size_t i = 0; i + 8 <= tag.size(); ++i)
      if (StartsWithNoCase(tag.substr(i), "charset=")) {
        cs = i;
        break;
      }
    if (cs == std::string_view::npos) {
      out.append(html.substr(pos, end - pos));
      pos = end;
      continue;
    }
    size_t v = cs + 8;
    if (v < tag.size() && (tag[v] == '"' || tag[v] == '\'')) ++v;
    size_t e = v;
    while (e < tag.size() && std::string_view("\t \"';>/").find(tag[e]) == std::string_view::npos) ++e;
    out.append(html.substr(pos, lt + v - pos));
    out.append(charset);
    pos = lt + e;
  }
  return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    std::string_view line = text.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return lines;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::canonical(path, ec);
  return ec ? std::string() : p.string();
}

// Appends the file in base64 lines to `out`, calling `flush` as the text grows; false when the
// file cannot be read or has grown beyond the cap since it was checked.
template <class Flush>
bool EncodeFile(const std::string& path, uint64_t cap, std::string& out, Flush&& flush) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  Base64Encoder enc;
  std::vector<char> buf(57 * 1024);
  uint64_t total = 0;
  while (f) {
    f.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    auto got = static_cast<size_t>(f.gcount());
    total += got;
    if (total > cap) return false;
    enc.Feed(std::string_view(buf.data(), got), out);
    if (out.size() >= (1 << 16)) flush();
  }
  enc.Finish(out);
  return !f.bad();
}

}  // namespace

std::string EncodeHtmlForCharset(std::string_view html, std::string& charset) {
  if (!IsUtf8Label(charset)) {
    std::string enc = EncodeToCharset(html, charset);
    if (DecodeFromCharset(enc, charset) == html && (CodePageOfCharset(charset) != 0 || CharsetIndex(charset) >= 0))
      return SetMetaCharset(enc, charset);
  }
  charset = "UTF-8";
  return SetMetaCharset(html, charset);
}

std::string LocalPathOfReference(std::string_view reference, const std::string& baseFolder) {
  std::string ref(TrimView(reference));
  if (ref.empty() || StartsWithNoCase(ref, "cid:")) return {};
  if (StartsWithNoCase(ref, "file:")) {
    QUrl url(QString::fromStdString(ref));
    if (url.isLocalFile()) return url.toLocalFile().toStdString();
    return FileUrlToPath(ref).insert(0, "/");
  }
  if (ref[0] == '/') return ref;
  // A scheme ("http:", "data:" ...) means it is not a local file.
  size_t colon = ref.find(':');
  if (colon != std::string::npos && ref.find_first_of("/\\") > colon) return {};
  if (baseFolder.empty()) return {};
  return baseFolder + ref;
}

bool MayEmbed(const std::string& path, const ResourcePolicy& policy) {
  std::string canon = Canonical(path);
  if (canon.empty()) return false;
  std::error_code ec;
  if (!fs::is_regular_file(canon, ec)) return false;
  auto size = fs::file_size(canon, ec);
  if (ec || size > policy.maxFileSize) return false;
  for (const auto& f : policy.insertedFiles)
    if (Canonical(f) == canon) return true;
  for (const auto& folder : policy.folders) {
    std::string cf = Canonical(folder);
    if (cf.empty()) continue;
    if (cf.back() != '/') cf += '/';
    if (canon.size() > cf.size() && canon.compare(0, cf.size(), cf) == 0) return true;
  }
  return false;
}

std::string ContentTypeOfFile(const std::string& path) {
  QMimeDatabase db;
  QMimeType t = db.mimeTypeForFile(QString::fromStdString(path));
  if (!t.isValid() || t.isDefault()) return "application/octet-stream";
  return t.name().toStdString();
}

MhtmlBuildResult BuildMhtml(std::string_view html, std::string_view text, std::string_view charset,
                            const std::string& baseFolder, const ResourcePolicy& policy, RandomSource& random) {
  MhtmlBuildResult r;
  std::string mime;
  WriteMhtml(html, text, charset, baseFolder, policy, random, r, [&mime](std::string_view bytes) {
    mime.append(bytes);
    return true;
  });
  r.mime = std::move(mime);
  return r;
}

bool WriteMhtml(std::string_view html, std::string_view text, std::string_view charset, const std::string& baseFolder,
                const ResourcePolicy& policy, RandomSource& random, MhtmlBuildResult& r,
                const std::function<bool(std::string_view)>& sink) {
  r = MhtmlBuildResult{};
  const std::string outer = Boundary(0, random);

  struct Resource { std::string path, cid; };
  std::vector<Resource> resources;
  std::string rewritten = RewriteHtmlReferences(html, [&](HtmlRefKind kind, const std::string& value)
                                                          -> std::optional<std::string> {
    if (kind == HtmlRefKind::StyleSheet) return std::nullopt;
    std::string local = LocalPathOfReference(value, baseFolder);
    if (local.empty() || !MayEmbed(local, policy)) return std::nullopt;  // stays a link
    std::string canon = Canonical(local);
    auto it = r.embedded.find(canon);
    if (it == r.embedded.end()) {
      it = r.embedded.emplace(canon, ContentId(random)).first;
      resources.push_back({canon, it->second});
    }
    return "cid:" + it->second;
  });

  // The text and the HTML go out in one charset; when it cannot hold them both, UTF-8.
  std::string cs(charset);
  std::string htmlBytes = EncodeHtmlForCharset(rewritten, cs);
  std::string textBytes(text);
  if (!IsUtf8Label(cs)) {
    std::string enc = EncodeToCharset(text, cs);
    if (DecodeFromCharset(enc, cs) == text) {
      textBytes = enc;
    } else {
      cs = "UTF-8";
      htmlBytes = SetMetaCharset(rewritten, cs);
    }
  }
  r.charset = cs;
  r.html = rewritten;

  // Written in pieces so that large pictures are never held whole.
  std::string m;
  bool ok = true;
  auto flush = [&] {
    if (ok && !m.empty()) ok = sink(m);
    m.clear();
  };
  auto line = [&](std::string_view s) {
    m.append(s);
    m += "\r\n";
    if (m.size() >= (1 << 16)) flush();
  };
  auto textAndHtml = [&](const std::string& boundary) {
    line("--" + boundary);
    line("Content-Type: text/plain;");
    line("\tcharset=\"" + cs + "\"");
    line("Content-Transfer-Encoding: 8bit");
    line("");
    for (auto l : Lines(textBytes)) line(l);
    line("");
    line("--" + boundary);
    line("Content-Type: text/html;");
    line("\tcharset=\"" + cs + "\"");
    if (IsUtf8Label(cs)) {
      line("Content-Transfer-Encoding: base64");
      line("");
      line(Base64Lines(htmlBytes));
    } else {
      line("Content-Transfer-Encoding: quoted-printable");
      line("");
      for (auto l : Lines(htmlBytes)) line(QPEncodeLine(l));
    }
    line("");
  };

  line("MIME-Version: 1.0");
  if (resources.empty()) {
    line("Content-Type: multipart/alternative;");
    line("\ttype=\"text/html\";");
  } else {
    line("Content-Type: multipart/related;");
    line("\ttype=\"multipart/alternative\";");
  }
  line("\tboundary=\"" + outer + "\"");
  line("X-MimeOLE: Produced By Plumadex");
  line("");
  line("This is a multi-part message in MIME format.");
  line("");
  if (resources.empty()) {
    textAndHtml(outer);
  } else {
    const std::string inner = Boundary(1, random);
    line("--" + outer);
    line("Content-Type: multipart/alternative;");
    line("\tboundary=\"" + inner + "\"");
    line("");
    textAndHtml(inner);
    line("--" + inner + "--");
    line("");
    for (const auto& res : resources) {
      line("--" + outer);
      line("Content-Type: " + ContentTypeOfFile(res.path));
      line("Content-Transfer-Encoding: base64");
      line("Content-ID: <" + res.cid + ">");
      line("");
      if (!EncodeFile(res.path, policy.maxFileSize, m, flush)) ok = false;
      line("");
    }
  }
  line("--" + outer + "--");
  flush();
  return ok;
}

// ---- the wrapper ------------------------------------------------------------------------------

TDHTMLEditWrap::TDHTMLEditWrap(HtmlEditor& editor, std::string tempFolder, RandomSource& random)
    : editor_(editor), tempFolder_(std::move(tempFolder)), random_(random) {
  if (!tempFolder_.empty() && tempFolder_.back() != '/') tempFolder_ += '/';
}

TDHTMLEditWrap::~TDHTMLEditWrap() { DropResources(); }

void TDHTMLEditWrap::DropResources() {
  if (!resourceFolder_.empty()) {
    std::error_code ec;
    fs::remove_all(resourceFolder_, ec);
  }
  resourceFolder_.clear();
}

ResourcePolicy TDHTMLEditWrap::Policy() const {
  ResourcePolicy p;
  if (!resourceFolder_.empty()) p.folders.push_back(resourceFolder_);
  if (!tempFolder_.empty()) p.folders.push_back(tempFolder_);
  p.insertedFiles = inserted_;
  p.maxFileSize = maxResourceSize_;
  return p;
}

bool TDHTMLEditWrap::Load(const std::string& path) {
  error_.clear();
  DropResources();
  MhtmlDocument doc;
  if (!ReadMhtmlDocument(path, tempFolder_, random_, doc)) {
    error_ = kMhtmlReadError;
    return false;
  }
  path_ = path;
  header_ = doc.header;
  charset_ = doc.charset;
  resourceFolder_ = doc.resourceFolder;
  readWithResources_ = doc.related;
  baseFolder_ = QFileInfo(QString::fromStdString(path)).absolutePath().toStdString() + "/";
  std::string html = doc.html;
  if (!doc.references.empty()) {
    // Point the pictures and style sheets at the extracted files.
    html = RewriteHtmlReferences(html, [&](HtmlRefKind, const std::string& value) -> std::optional<std::string> {
      auto it = doc.references.find(ReferenceKey(value));
      if (it == doc.references.end()) return std::nullopt;
      return QUrl::fromLocalFile(QString::fromStdString(it->second)).toString().toStdString();
    });
  }
  editor_.SetHtml(html, baseFolder_);
  return true;
}

void TDHTMLEditWrap::LoadSource(std::string_view html) { editor_.SetHtml(html, baseFolder_); }

void TDHTMLEditWrap::InsertImage(const std::string& path) {
  inserted_.push_back(path);
  std::string url = QUrl::fromLocalFile(QString::fromStdString(path)).toString().toStdString();
  editor_.PasteHtml("<IMG SRC=\"" + HtmlEscape(url) + "\">");
}

bool TDHTMLEditWrap::WriteFile(const std::string& path, std::string_view bytes) {
  if (const FileStatus st = SaveFileAtomic(path, bytes); !st.ok()) {
    error_ = st.message;
    return false;
  }
  return true;
}

bool TDHTMLEditWrap::Save(const std::string& pathIn) {
  error_.clear();
  std::string path = pathIn.empty() ? path_ : pathIn;
  if (path.empty()) {
    error_ = "No file name was given.";
    return false;
  }
  // Any case: an ".EML" written as plain HTML could not be read back as a message.
  std::string ext = QFileInfo(QString::fromStdString(path)).suffix().toLower().toStdString();
  std::string html = editor_.Html();
  if (ext == "mht" || ext == "eml") {
    MhtmlBuildResult r;
    const FileStatus st = SaveFileAtomic(path, [&](const ByteWriter& write) {
      return WriteMhtml(html, editor_.Text(), charset_, baseFolder_, Policy(), random_, r, write);
    });
    if (!st.ok()) {
      error_ = st.message;
      return false;
    }
  } else {
    std::string folder = QFileInfo(QString::fromStdString(path)).absolutePath().toStdString() + "/";
    std::error_code ec;
    if (readWithResources_ && !resourceFolder_.empty() && fs::is_directory(resourceFolder_, ec)) {
      // Copy the resources beside the page and point the page at the copies.
      std::string stem = QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString();
      std::string filesName = stem + "_files";
      fs::create_directories(folder + filesName, ec);
      if (ec) {
        error_ = "Cannot create " + folder + filesName + "\r\rError: " + ec.message();
        return false;
      }
      std::map<std::string, std::string> copies;
      for (const auto& e : fs::directory_iterator(resourceFolder_, ec)) {
        if (!e.is_regular_file()) continue;
        std::string name = e.path().filename().string();
        fs::copy_file(e.path(), folder + filesName + "/" + name, fs::copy_options::overwrite_existing, ec);
        if (ec) {
          error_ = "Cannot copy " + e.path().string() + "\rto " + folder + filesName + "\r\rError: " + ec.message();
          return false;
        }
        copies[Canonical(e.path().string())] = filesName + "/" + name;
      }
      html = RewriteHtmlReferences(html, [&](HtmlRefKind kind, const std::string& value) -> std::optional<std::string> {
        std::string local = LocalPathOfReference(value, baseFolder_);
        if (local.empty()) return std::nullopt;
        auto it = copies.find(Canonical(local));
        if (it == copies.end()) return std::nullopt;
        return QUrl::toPercentEncoding(QString::fromStdString(it->second), "/").toStdString();
      });
    }
    std::string cs = charset_;
    if (!WriteFile(path, EncodeHtmlForCharset(html, cs))) return false;
  }
  // Show the saved state.
  return Load(path);
}

}  // namespace px::mailformat
