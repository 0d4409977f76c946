#pragma once
// What a viewed message becomes when the user answers or passes it on: subjects, the reply-all
// recipient set, plain-text quoting and re-wrapping, the HTML templates of replies, forwards and
// new messages, the header block in front of quoted text, and the signature.
//
// All text here is UTF-8: a message is decoded from its charset once, when the window opens it,
// and encoded once, when the new message is queued (so quoted text is never converted twice).
// Line lists carry no line ends; the caller joins them with CR LF when writing a file.
#include "foundation/types.h"

#include <string>
#include <string_view>
#include <vector>

namespace px::compose {

inline constexpr size_t kWrapWidth = 76;

// "Re: x", "Re[n]: x": leading reply markers are counted and replaced by one.
std::string ReplySubject(std::string_view subject);
// "Fwd: x"; a subject already beginning "Fwd:" is kept, a leading "FW:" is replaced.
std::string ForwardSubject(std::string_view subject);

struct Recipients {
  std::string to;
  std::string cc;
};
// The recipients of a reply. `sender` is the viewed message's sender, `toList` and `ccList` its
// recipients; `ownAddress` the default sender (its address part is the user's own address);
// `ownServiceId` the user's service name. Reply: the sender alone; Reply To All: the sender and the
// message's To list, its Cc list in Cc; then the user's own address and doubles are removed.
// `otherOwn` holds the user's other addresses (every enabled account's): none of the user's
// addresses is answered.
Recipients ReplyRecipients(std::string_view sender, std::string_view toList, std::string_view ccList,
                           std::string_view ownAddress, std::string_view ownServiceId, bool all,
                           const StringList& otherOwn = {});

// The thread headers of a reply to a message whose id is `messageId` ("<...>", may be empty) and
// whose own references are `references`: In-Reply-To is that id, References the message's
// references followed by it (the newest 20 ids). Anything that is not "<...@...>" is dropped.
struct ThreadHeaders {
  std::string inReplyTo;
  std::string references;
};
ThreadHeaders ReplyThreadHeaders(std::string_view messageId, std::string_view references);

// Trims every line and wraps it at `width` characters. With `quote` each line gets one more
// level of "> " (an existing prefix such as ">>" or "John>" is kept in front) and short
// remainders of a broken line flow into the next line of the same quote level.
StringList QuoteAndWrap(const StringList& lines, bool quote, size_t width = kWrapWidth);

// One header line of a viewed message: "From: x" is label "From:" and value "x".
struct HeaderLine {
  std::string label;  // up to and including the first ":"
  std::string value;
};
HeaderLine SplitHeaderLine(std::string_view line);
// The Bcc line is recognised by its caption.
bool IsBccHeaderLine(std::string_view line);
// "<B><I>label</I></B>&nbsp;value<BR>" for every line except the Bcc line.
std::string HeaderBlockHtml(const StringList& headerLines);

// The signature in both forms; both empty when the user has none.
struct Signature {
  std::string plain;  // lines joined with CR LF
  std::string html;   // lines joined with "<BR>", rules as "<HR>"
  bool empty() const { return plain.empty() && html.empty(); }
  // "" or CR LF + signature + CR LF.
  std::string PlainBlock() const;
  // "" or "<DIV>&nbsp;</DIV><DIV>" + signature + "</DIV>".
  std::string HtmlBlock() const;
};
// From the lines of the `Signature` setting (already decoded to UTF-8).
Signature MakeSignature(const StringList& lines);

// The HTML editor's font as the templates name it.
struct TemplateFont {
  std::string name = "Arial";
  int size = 10;
};

// Removes trailing lines that are empty once trimmed.
void DropTrailingEmptyLines(StringList& lines);

// Plain-text reply: header lines and the message text, quoted and wrapped, after the signature.
StringList PlainReplyLines(const StringList& headerLines, const StringList& text, const Signature& sig);
// Plain-text forward: the signature, a rule, the header lines, the text and a closing rule.
StringList PlainForwardLines(const StringList& headerLines, const StringList& text, const Signature& sig);

// HTML reply to a plain-text message (a whole document).
std::string HtmlReplyToText(const StringList& headerLines, const StringList& text, std::string_view charset,
                            const TemplateFont& font, const Signature& sig);
// HTML reply to an HTML message: the pieces that go before and after the old body content.
struct BodyWrap {
  std::string before;
  std::string after;
};
BodyWrap HtmlReplyWrap(const StringList& headerLines, const TemplateFont& font, const Signature& sig);
// HTML forward of a plain-text message (a whole document, without the forward header).
std::string HtmlForwardOfText(const StringList& text, std::string_view charset);
// The forward header put at the start of the forwarded document's body.
std::string HtmlForwardHeader(const StringList& headerLines, const TemplateFont& font, const Signature& sig);
// A new HTML message.
std::string HtmlNewMessage(const TemplateFont& font, const Signature& sig);
// A text document sent as an HTML message.
std::string HtmlOfTextDocument(const StringList& text, const TemplateFont& font, const Signature& sig);

// The content of the <BODY> element wrapped between `before` and `after` (the whole text is
// wrapped when it has no body element).
std::string WrapBodyContent(std::string_view html, std::string_view before, std::string_view after);

// Splits a text at CR LF, LF or CR.
StringList SplitLines(std::string_view text);
std::string JoinLines(const StringList& lines, std::string_view separator = "\r\n");

}  // namespace px::compose
