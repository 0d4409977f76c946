#include "compose/message_view.h"

#include "compose/reply_bodies.h"
#include "foundation/charset.h"
#include "mailformat/codecs.h"
#include "mailformat/html_refs.h"
#include "mailformat/mhtml_loader.h"

#include <QRegularExpression>
#include <QString>
#include <QUrl>

#include <fstream>

namespace px::compose {

MessagePage PrepareMessagePage(const std::string& path, const std::string& tempFolder, RandomSource& random) {
  MessagePage page;
  mailformat::MhtmlDocument doc;
  if (!mailformat::ReadMhtmlDocument(path, tempFolder, random, doc)) return page;
  page.charset = doc.charset;
  page.resourceFolder = doc.resourceFolder;
  page.html = doc.html;
  if (!doc.references.empty()) {
    page.html = mailformat::RewriteHtmlReferences(
        page.html, [&](mailformat::HtmlRefKind, const std::string& value) -> std::optional<std::string> {
          auto it = doc.references.find(mailformat::ReferenceKey(value));
          if (it == doc.references.end()) return std::nullopt;
          return QUrl::fromLocalFile(QString::fromStdString(it->second)).toString().toStdString();
        });
  }
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
