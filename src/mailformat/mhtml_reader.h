#pragma once
// Reads an ".eml" or ".mht" document into one HTML text plus a folder of extracted resources
// (pictures, style sheets) and the map from the references in the HTML to those files, for the
// HTML editor. The document is read once, in chunks; bodies are decoded straight to their files.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace px {
class RandomSource;
}

namespace px::mailformat {

inline constexpr std::string_view kMhtmlReadError = "Could not read MHTML message: Unrecognized format";

// The MIME headers of one entity of an MHTML document.
struct TMsgHeader {
  std::string contentType;       // main value of Content-Type
  std::string contentId;         // Content-ID without its angle brackets
  std::string contentLocation;
  std::string transferEncoding;
  std::string type;              // "type=" parameter
  std::string charset;           // "charset=" parameter
  std::string boundary;          // "--" + "boundary=" parameter ("" when none)
  std::string mimeVersion;
  std::string mimeOle;           // X-MimeOLE
};

struct MhtmlDocument {
  bool ok = false;
  bool passThrough = false;  // neither ".mht" nor ".eml": the editor loads the file itself
  std::string error;         // kMhtmlReadError when reading failed
  TMsgHeader header;         // the document's top header
  std::string html;          // the HTML text (or the plain text, see plainText)
  bool plainText = false;    // the text came from a text/plain part
  // Folder of the extracted resources, ending in "/"; "" when nothing was extracted.
  std::string resourceFolder;
  // Reference as the HTML may use it -> extracted file. References are Content-Location values
  // with "/" turned into "\", or "cid:" + Content-ID.
  std::vector<std::pair<std::string, std::string>> references;
  bool readWithResources = false;  // the document was multipart/related
};

// tempFolder: the editor's temporary folder (ending in "/"); the resource folder is made inside
// it when the first resource is extracted. On failure the resource folder is removed.
MhtmlDocument ReadMhtmlDocument(const std::string& path, const std::string& tempFolder,
                                RandomSource& random);

// Fills a TMsgHeader from one complete header (continuations joined); false when the header is
// none of the ones it keeps.
bool ReadMsgHeaderLine(std::string_view header, TMsgHeader& h);

}  // namespace px::mailformat
