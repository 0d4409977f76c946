#include "compose/link_check.h"

#include "foundation/strings.h"

#include <QRegularExpression>
#include <QString>
#include <QUrl>

namespace px::compose {

namespace {

// Letters, digits and characters from U+00C0 up glue a match to its neighbours.
bool WordChar(QChar c) { return c.isLetterOrNumber() || c.unicode() >= 0xC0; }

const QRegularExpression& LinkPattern() {
  static const QRegularExpression re(
      QStringLiteral(
          R"((?i)HTTPS://\S+|HTTP://\S+|FTP://\S+|MAILTO:\S+|NNTP:\S+|NEWS:\S+|WAIS:\S+|([\w\-\.]+@)?((\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})|(([\w\-]+\.)+([a-z]{2,3})))(:\d\d?\d?\d?\d?)?(((/[%+\w\-\\\.]*)+)*)(\?[^\s=&]+[=\?][^\s=&]+(&[^\s=&]+[=\?][^\s=&]+)*)?(#[\w\-%+]+)?)"),
      QRegularExpression::UseUnicodePropertiesOption);
  return re;
}

// The host a shown text names when it reads like a web address.
QString ShownHost(const QString& shown) {
  QString s = shown.trimmed();
  if (s.isEmpty() || s.contains(QLatin1Char(' '))) return {};
  if (!s.contains(QStringLiteral("://"))) {
    if (!s.startsWith(QStringLiteral("www."), Qt::CaseInsensitive)) return {};
    s = QStringLiteral("http://") + s;
  }
  const QUrl u(s, QUrl::StrictMode);
  if (!u.isValid()) return {};
  return u.host().toLower();
}

QString WithoutWww(QString h) { return h.startsWith(QStringLiteral("www.")) ? h.mid(4) : h; }

}  // namespace

LinkDecision CheckLink(std::string_view target, std::string_view shownText) {
  LinkDecision d;
  const QString raw = QString::fromUtf8(target.data(), static_cast<qsizetype>(target.size())).trimmed();
  const QUrl url(raw, QUrl::StrictMode);
  d.url = raw.toStdString();
  if (raw.isEmpty() || !url.isValid() || url.scheme().isEmpty()) {
    d.reason = "The link has no valid address.";
    return d;
  }
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("javascript") || scheme == QLatin1String("vbscript") || scheme == QLatin1String("data") ||
      scheme == QLatin1String("file") || scheme == QLatin1String("cid")) {
    d.reason = "Links of the kind \"" + scheme.toStdString() + ":\" are not opened from a message.";
    return d;
  }
  d.url = url.toString(QUrl::FullyEncoded).toStdString();
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("mailto")) {
    d.action = LinkAction::Ask;
    d.reason = "The link opens a program for \"" + scheme.toStdString() + ":\" addresses.";
    return d;
  }
  if (scheme != QLatin1String("mailto")) {
    const QString shownHost =
        ShownHost(QString::fromUtf8(shownText.data(), static_cast<qsizetype>(shownText.size())));
    if (!shownHost.isEmpty() && WithoutWww(shownHost) != WithoutWww(url.host().toLower())) {
      d.action = LinkAction::Ask;
      d.reason = "The link shows " + shownHost.toStdString() + " but leads to " + url.host().toLower().toStdString() + ".";
      return d;
    }
  }
  d.action = LinkAction::Open;
  return d;
}

std::vector<TextLink> FindTextLinks(std::string_view lineUtf8) {
  std::vector<TextLink> out;
  const QString line = QString::fromUtf8(lineUtf8.data(), static_cast<qsizetype>(lineUtf8.size()));
  auto it = LinkPattern().globalMatch(line);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    const qsizetype s = m.capturedStart(), e = m.capturedEnd();
    if (m.capturedLength() == 0) continue;
    if (s > 0 && WordChar(line[s - 1])) continue;
    if (e < line.size() && WordChar(line[e])) continue;
    out.push_back({static_cast<size_t>(s), static_cast<size_t>(e - s), m.captured().toStdString()});
  }
  return out;
}

std::string TextLinkTarget(std::string_view linkText) {
  const QString t = QString::fromUtf8(linkText.data(), static_cast<qsizetype>(linkText.size()));
  static const QRegularExpression known(QStringLiteral("(?i)(FTP://|HTTP://|HTTPS://|MAILTO:)"));
  if (known.match(t).hasMatch()) return std::string(linkText);
  const qsizetype at = t.indexOf(QLatin1Char('@'));
  if (at >= 0 && at < t.size() - 1) return "mailto:" + std::string(linkText);
  return "http://" + std::string(linkText);
}

bool IsQuotedLine(std::string_view lineUtf8, char32_t quoteChar) {
  const QString line = QString::fromUtf8(lineUtf8.data(), static_cast<qsizetype>(lineUtf8.size()));
  for (QChar c : line) {
    if (WordChar(c)) continue;
    return c.unicode() == quoteChar;
  }
  return false;
}

}  // namespace px::compose
