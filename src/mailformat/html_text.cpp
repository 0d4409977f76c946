#include "mailformat/codecs.h"

namespace px::mailformat {

std::string HtmlUnescape(std::string_view text, std::string_view charset) { return std::string(text); }

HtmlTextResult HtmlToText(const std::vector<std::string>& htmlLines, std::string_view charset) {
  HtmlTextResult r;
  r.lines = htmlLines;
  return r;
}

HtmlTextResult HtmlToText(std::string_view html, std::string_view charset) {
  return HtmlToText(std::vector<std::string>{std::string(html)}, charset);
}

}  // namespace px::mailformat
