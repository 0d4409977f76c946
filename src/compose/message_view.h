#pragma once
// Preparing a stored message for the viewer: HTML documents (".htm", ".mht", ".eml") read with
// their embedded parts extracted and referenced as local files, plain text decoded from its
// charset, and the link texts the link check compares with the targets.
#include "foundation/random.h"
#include "foundation/types.h"

#include <string>
#include <utility>
#include <vector>

namespace px::compose {

struct MessagePage {
  bool ok = false;
  std::string html;            // UTF-8, references to the message's parts rewritten to files
  std::string charset;         // the HTML's own charset ("" when none was declared)
  std::string resourceFolder;  // extracted parts ("" when none)
  StringList text;             // the page's plain text (for replies and forwards)
  bool rich = false;           // the page holds content plain text cannot show
};
// `partContentIds` names the message's other parts by Content-ID: a "cid:" picture the document
// does not hold itself is shown from that part (a copy in the page's resource folder).
MessagePage PrepareMessagePage(const std::string& path, const std::string& tempFolder, RandomSource& random,
                               const std::vector<std::pair<std::string, std::string>>& partContentIds = {});

// The HTML with its "cid:" references that name one of `partContentIds` pointing at that part's
// file (for the HTML editor, which shows and embeds local pictures).
std::string ResolvePartPictures(const std::string& html,
                                const std::vector<std::pair<std::string, std::string>>& partContentIds);

// The text of a plain document in UTF-8, lines without their ends.
StringList ReadTextDocument(const std::string& path, const std::string& charset, uint64_t maxBytes = 64ull << 20);

// Every <A HREF> of the HTML with the text it shows (tags removed, entities resolved).
std::vector<std::pair<std::string, std::string>> AnchorTexts(const std::string& html);

// The HTML with its META charset declarations saying UTF-8 (one is added when it has none).
std::string ForceUtf8Meta(const std::string& html);

}  // namespace px::compose
