#include "compose/message_view.h"

#include "compose/reply_bodies.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "mailformat/codecs.h"
#include "mailformat/html_refs.h"
#include "mailformat/mhtml_loader.h"

#include "foundation/strings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QUrl>

#include <fstream>
#include <map>
#include <optional>

namespace px::compose {

namespace {

// The id of a "cid:" reference ("" for any other reference).
std::string CidOf(const std::string& reference) {
  const std::string r = Trim(reference);
  if (r.size() < 5 || QString::fromStdString(r.substr(0, 4)).compare(QLatin1String("cid:"), Qt::CaseInsensitive) != 0)
    return {};
  std::string id = QUrl::fromPercentEncoding(QByteArray::fromStdString(r.substr(4))).toStdString();
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return id;
}

// The part of `parts` a content id names: exactly, else without regard to case.
const std::pair<std::string, std::string>* PartOf(const std::vector<std::pair<std::string, std::string>>& parts,
                                                  const std::string& cid) {
  if (cid.empty()) return nullptr;
  for (const auto& p : parts)
    if (p.first == cid) return &p;
  for (const auto& p : parts)
    if (QString::fromStdString(p.first).compare(QString::fromStdString(cid), Qt::CaseInsensitive) == 0) return &p;
  return nullptr;
}

}  // namespace

std::string ResolvePartPictures(const std::string& html,
                                const std::vector<std::pair<std::string, std::string>>& partContentIds) {
  if (partContentIds.empty()) return html;
  return mailformat::RewriteHtmlReferences(
      html, [&](mailformat::HtmlRefKind, const std::string& value) -> std::optional<std::string> {
        const auto* part = PartOf(partContentIds, CidOf(value));
        if (!part) return std::nullopt;
        return QUrl::fromLocalFile(QString::fromStdString(part->second)).toString().toStdString();
      });
}

MessagePage PrepareMessagePage(const std::string& path, const std::string& tempFolder, RandomSource& random,
                               const std::vector<std::pair<std::string, std::string>>& partContentIds) {
  MessagePage page;
  mailformat::MhtmlDocument doc;
  if (!mailformat::ReadMhtmlDocument(path, tempFolder, random, doc)) return page;
  page.charset = doc.charset;
  page.resourceFolder = doc.resourceFolder;
  page.html = doc.html;
  // Pictures that are parts of their own: copied beside the page, so that the viewer reads
  // nothing outside its resource folder.
  std::map<std::string, std::string> copied;  // content id -> copy
  auto partPicture = [&](const std::string& cid) -> std::optional<std::string> {
    if (cid.empty()) return std::nullopt;
    if (auto it = copied.find(cid); it != copied.end()) return it->second;
    const std::pair<std::string, std::string>* found = PartOf(partContentIds, cid);
    if (!found) return std::nullopt;
    if (page.resourceFolder.empty()) {
      page.resourceFolder = tempFolder + "PX" + NewUniqueId(random) + "_files/";
      if (!QDir().mkpath(QString::fromStdString(page.resourceFolder))) {
        page.resourceFolder.clear();
        return std::nullopt;
      }
    }
    const std::string& source = found->second;
    const size_t dot = source.rfind('.');
    const size_t slash = source.rfind('/');
    const std::string ext = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? source.substr(dot) : "";
    const std::string copy = page.resourceFolder + "part" + std::to_string(copied.size() + 1) + ext;
    if (!QFile::copy(QString::fromStdString(source), QString::fromStdString(copy))) return std::nullopt;
    copied[cid] = copy;
    return copy;
  };
  page.html = mailformat::RewriteHtmlReferences(
      page.html, [&](mailformat::HtmlRefKind, const std::string& value) -> std::optional<std::string> {
        std::optional<std::string> file;
        if (auto it = doc.references.find(mailformat::ReferenceKey(value)); it != doc.references.end())
          file = it->second;
        else
          file = partPicture(CidOf(value));
        if (!file) return std::nullopt;
        return QUrl::fromLocalFile(QString::fromStdString(*file)).toString().toStdString();
      });
  const mailformat::HtmlTextResult text = mailformat::HtmlToText(doc.html, "UTF-8");
  page.text = text.lines;
  page.rich = text.rich;
  page.ok = true;
  return page;
}

StringList ReadTextDocument(const std::string& path, const std::string& charset, uint64_t maxBytes) {
  std::ifstream f(path, std::ios::binary);
  std::string bytes;
  if (f) {
    bytes.resize(maxBytes);
    f.read(bytes.data(), static_cast<std::streamsize>(maxBytes));
    bytes.resize(static_cast<size_t>(f.gcount()));
  }
  std::string utf8 = charset.empty() ? bytes : DecodeFromCharset(bytes, charset);
  if (charset.empty() && QString::fromUtf8(utf8).toUtf8() != QByteArray::fromStdString(utf8))
    utf8 = DecodeFromCharset(bytes, DefaultCharsetName());
  StringList lines = SplitLines(utf8);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::vector<std::pair<std::string, std::string>> AnchorTexts(const std::string& html) {
  std::vector<std::pair<std::string, std::string>> out;
  static const QRegularExpression anchor(
      QStringLiteral(R"re(<a\s[^>]*?href\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+))[^>]*>(.*?)</a\s*>)re"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
  const QString text = QString::fromStdString(html);
  auto it = anchor.globalMatch(text);
  while (it.hasNext()) {
    const auto m = it.next();
    QString href = m.captured(1);
    if (href.isEmpty()) href = m.captured(2);
    if (href.isEmpty()) href = m.captured(3);
    QString shown = m.captured(4);
    shown.remove(tags);
    const std::string hrefText = mailformat::HtmlUnescape(href.trimmed().toStdString(), "UTF-8");
    const std::string shownText = mailformat::HtmlUnescape(shown.simplified().toStdString(), "UTF-8");
    out.emplace_back(QUrl(QString::fromStdString(hrefText)).toString().toStdString(), shownText);
  }
  return out;
}

std::string ForceUtf8Meta(const std::string& html) {
  static const QRegularExpression meta(QStringLiteral(R"(<meta[^>]*charset[^>]*>)"),
                                       QRegularExpression::CaseInsensitiveOption);
  QString text = QString::fromStdString(html);
  text.remove(meta);
  const QString utf8Meta = QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">");
  static const QRegularExpression head(QStringLiteral(R"(<head[^>]*>)"), QRegularExpression::CaseInsensitiveOption);
  const auto m = head.match(text);
  if (m.hasMatch()) text.insert(m.capturedEnd(), utf8Meta);
  else text.prepend(utf8Meta);
  return text.toStdString();
}

}  // namespace px::compose
