#pragma once
// Finding and replacing the resource references of an HTML text: image sources, the body's
// background image and style-sheet links. A tolerant scanner, not a full parser: it skips
// comments, scripts and style blocks and understands quoted and unquoted attribute values.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace px::mailformat {

enum class HtmlRefKind { ImageSource, BodyBackground, StyleSheet };

// Calls `replace` with every reference (its value with entity references resolved); a returned
// text replaces the value (it is quoted and escaped here). Returns the rewritten HTML.
std::string RewriteHtmlReferences(
    std::string_view html,
    const std::function<std::optional<std::string>(HtmlRefKind, const std::string&)>& replace);

}  // namespace px::mailformat
