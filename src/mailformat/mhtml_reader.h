#pragma once
// The streaming reader behind the HTML editor's loader: reads an ".eml" or ".mht" document once,
// in chunks, into one HTML text plus a folder of extracted resources (pictures, style sheets) and
// the map from the references in the HTML to those files. Bodies are decoded straight to their
// files, so a large document is never held whole. The types are the loader's (mhtml_loader.h).
#include <string>
#include <string_view>

#include "mailformat/mhtml_loader.h"

namespace px {
class RandomSource;
}

namespace px::mailformat {

class LineReader;

// Reads the document at `path` (which must be an ".eml" or ".mht" document; the caller handles
// other extensions). Resources go into tempFolder + "PX" + time + random + "/", made when the
// first one is written. The HTML comes back in UTF-8 (converted from its part's charset, which
// is kept in doc.charset); a document whose only text is plain text gets it escaped as HTML.
// On failure the resource folder is removed and false returned (show kMhtmlReadError).
bool ReadMhtmlFile(const std::string& path, const std::string& tempFolder, RandomSource& random,
                   MhtmlDocument& doc, const MhtmlLimits& limits = {});
bool ReadMhtmlMemory(std::string_view bytes, const std::string& tempFolder, RandomSource& random,
                     MhtmlDocument& doc, const MhtmlLimits& limits = {});

// The same from a reader already opened.
bool ReadMhtmlStream(LineReader& in, const std::string& tempFolder, RandomSource& random,
                     MhtmlDocument& doc, const MhtmlLimits& limits = {});

// Fills a TMsgHeader from one complete header (continuations joined); false when the header is
// none of the ones it keeps.
bool ReadMsgHeaderLine(std::string_view header, TMsgHeader& h);

}  // namespace px::mailformat
