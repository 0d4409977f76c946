#pragma once
// Links in received mail. Every link the user clicks, in the text viewer or in the HTML viewer,
// goes through CheckLink: only http, https and mailto open at once; anything else, and a link
// whose shown text names another web address than its target, is opened only after asking.
#include <string>
#include <string_view>
#include <vector>

namespace px::compose {

enum class LinkAction {
  Open,    // hand to the user's browser or mail handler
  Ask,     // ask first; `reason` says why
  Refuse,  // never opened (scripts, data, local files)
};

struct LinkDecision {
  LinkAction action = LinkAction::Refuse;
  std::string url;     // the target as it will be opened
  std::string reason;  // for Ask and Refuse
};

// `target` is the link's address, `shownText` what the message shows for it (may be empty).
LinkDecision CheckLink(std::string_view target, std::string_view shownText = {});

// Plain-text links: the pattern the text viewer underlines, and how a clicked piece of text
// becomes an address ("mailto:" in front when it holds "@" before its last character, else
// "http://", unless it already names ftp, http, https or mailto).
struct TextLink {
  size_t start = 0;   // in characters (UTF-16 code units of the line)
  size_t length = 0;
  std::string text;   // UTF-8
};
std::vector<TextLink> FindTextLinks(std::string_view lineUtf8);
std::string TextLinkTarget(std::string_view linkText);

// A line is quoted when, reading over letters and digits from its start, the first other
// character is the quote character.
bool IsQuotedLine(std::string_view lineUtf8, char32_t quoteChar = U'>');

}  // namespace px::compose
