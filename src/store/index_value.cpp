#include "store/index_value.h"

#include "foundation/charset.h"
#include "foundation/text_case.h"

namespace px::store {
namespace {

constexpr std::string_view kCharsetPrefix = "CHARSET:";

std::string_view trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// Undoes the "~" / ";~" coding: returns the charset named in front and the body with "\n".
std::string decodeBody(std::string_view value, std::string& body) {
  std::string s;
  s.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == ';' && i + 1 < value.size() && value[i + 1] == '~') {
      s += '~';
      ++i;
    } else if (value[i] == '~') {
      s += '\n';
    } else {
      s += value[i];
    }
  }
  if (s.size() >= kCharsetPrefix.size() &&
      SameText(std::string_view(s).substr(0, kCharsetPrefix.size()), kCharsetPrefix)) {
    size_t pair = s.find("\n\n", kCharsetPrefix.size());
    // Without the separating pair the text is not a charset prefix but the user's own text.
    if (pair != std::string::npos) {
      std::string charset(trim(std::string_view(s).substr(kCharsetPrefix.size(), pair - kCharsetPrefix.size())));
      body = s.substr(pair + 2);
      return charset;
    }
  }
  body = std::move(s);
  return {};
}

}  // namespace

std::string EncodeIndexValue(const StringList& lines, std::string_view charset) {
  std::string out;
  bool first = true;
  for (const std::string& line : lines) {
    if (!first) out += '~';
    first = false;
    for (size_t i = 0; i < line.size(); ++i) {
      char c = line[i];
      switch (c) {
        case '~':
        case '\v': out += ";~"; break;
        case '\r':
          if (i + 1 < line.size() && line[i + 1] == '\n') ++i;
          out += '~';
          break;
        case '\n': out += '~'; break;
        case '\0': out += ' '; break;
        default: out += c;
      }
    }
  }
  if (!out.empty() && !charset.empty()) {
    std::string name;
    // A charset name never holds these; a ";" before the "~~" would escape it and merge the
    // name with the body on reading.
    for (char c : charset)
      if (c != '~' && c != ';' && static_cast<unsigned char>(c) >= 0x20) name += c;
    out = std::string(kCharsetPrefix) + name + "~~" + out;
  }
  return out;
}

std::string DecodeIndexValue(std::string_view value, StringList& lines) {
  lines.clear();
  std::string body;
  std::string charset = decodeBody(value, body);
  size_t start = 0;
  while (start < body.size()) {
    size_t nl = body.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(body.substr(start));
      break;
    }
    lines.push_back(body.substr(start, nl - start));
    start = nl + 1;
  }
  return charset;
}

DecodedIndexText DecodeIndexText(std::string_view value) {
  DecodedIndexText r;
  r.charset = decodeBody(value, r.text);
  if (!r.charset.empty()) r.text = DecodeFromCharset(r.text, r.charset);
  return r;
}

}  // namespace px::store
