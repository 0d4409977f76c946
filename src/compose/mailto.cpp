#include "compose/mailto.h"

#include "compose/reply_bodies.h"
#include "foundation/charset.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"

#include <QString>

namespace px::compose {

namespace {

bool ValidUtf8(std::string_view s) {
  const QByteArray b = QByteArray::fromRawData(s.data(), static_cast<qsizetype>(s.size()));
  return QString::fromUtf8(b).toUtf8() == b;
}

// A decoded value in UTF-8: encoded words may name a charset; bytes from "%XX" are read as UTF-8
// and, when they are not, as the default Western charset.
std::string DecodeValue(std::string_view raw, bool encodedWords) {
  std::string charset;
  std::string v = mailformat::HtmlUnescape(raw, "UTF-8");
  if (encodedWords) v = mailformat::DecodeEncodedWords(v, &charset);
  v = mailformat::UrlDecode(v);
  if (!charset.empty() && !SameText(charset, "UTF-8") && CodePageOfCharset(charset) != 0)
    v = DecodeFromCharset(v, charset);
  else if (!ValidUtf8(v))
    v = DecodeFromCharset(v, DefaultCharsetName());
  return v;
}

// Header values are one line.
std::string OneLine(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return v;
}

void Append(std::string& field, const std::string& value) {
  field = field.empty() ? value : field + ", " + value;
}

}  // namespace

bool ProcessMailto(std::string_view toField, MailtoFields& f) {
  if (!toField.starts_with("mailto:")) return false;
  std::string_view text = toField.substr(7);
  const size_t q = text.find('?');
  if (q == std::string_view::npos) {
    f.to = OneLine(DecodeValue(text, false));
    return true;
  }
  f.to = OneLine(DecodeValue(text.substr(0, q), true));
  std::string_view list = text.substr(q + 1);
  while (!list.empty()) {
    const size_t amp = list.find('&');
    const size_t paramEnd = amp == std::string_view::npos ? list.size() : amp;
    const size_t eq = list.find('=');
    if (eq != std::string_view::npos && eq < paramEnd) {
      const std::string name = LowerCase(list.substr(0, eq));
      const std::string value = DecodeValue(list.substr(eq + 1, paramEnd - eq - 1), true);
      if (name == "to") Append(f.to, OneLine(value));
      else if (name == "cc") Append(f.cc, OneLine(value));
      else if (name == "bcc") Append(f.bcc, OneLine(value));
      else if (name == "from") {
        f.from = OneLine(value);
        f.fromGiven = true;
      } else if (name == "subject") {
        f.subject = OneLine(value);
        f.subjectGiven = true;
      } else if (name == "body") {
        for (const std::string& l : SplitLines(value)) f.bodyLines.push_back(l);
      }
    }
    list = amp == std::string_view::npos ? std::string_view() : list.substr(amp + 1);
  }
  return true;
}

}  // namespace px::compose
