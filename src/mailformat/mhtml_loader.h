#pragma once
// Reading ".mht" and ".eml" documents for the HTML editor: one HTML text plus a folder of
// extracted resources (images, style sheets) and the map from the references the HTML uses
// ("cid:..." or a content location) to the extracted files.
#include <map>
#include <string>
#include <string_view>

#include "foundation/random.h"
#include "foundation/text_case.h"

namespace px::mailformat {

// The MIME headers of one entity of an MHTML document.
struct TMsgHeader {
  std::string contentType;       // main value of Content-Type
  std::string contentId;         // Content-ID without its angle brackets
  std::string contentLocation;
  std::string transferEncoding;
  std::string type;              // "type=" parameter
  std::string charset;           // "charset=" parameter
  std::string boundary;          // "--" + boundary parameter ("" when none)
  std::string mimeVersion;
  std::string mimeOle;           // X-MimeOLE
};

// Reference key (normalised as ReferenceKey does) -> local file path. Keys compare without
// regard to case.
using ReferenceMap = std::map<std::string, std::string, TextLess>;

// The key under which a reference is looked up: a "file:" prefix and its slashes are dropped and
// "/" becomes "\", so "x/a.gif", "x\a.gif" and "file:///x/a.gif" meet.
std::string ReferenceKey(std::string_view reference);

struct MhtmlDocument {
  std::string html;            // UTF-8
  std::string charset;         // the HTML's own charset ("" when none was declared)
  TMsgHeader header;           // the top header block
  std::string resourceFolder;  // ends in "/"; "" when nothing was extracted
  ReferenceMap references;     // reference key -> extracted file
  bool related = false;        // a multipart/related document was read
};

struct MhtmlLimits {
  size_t maxResources = 1000;
  int maxDepth = 8;
};

// The message shown for any document that cannot be read.
inline constexpr const char* kMhtmlReadError = "Could not read MHTML message: Unrecognized format";

// Reads a document for the editor: ".mht" and ".eml" through the MHTML reader (mhtml_reader.h:
// resources go into a new folder under `tempFolder`, with cleaned, unique names; on failure the
// folder is removed and false returned), any other extension as HTML in its META charset.
bool ReadMhtmlDocument(const std::string& path, const std::string& tempFolder, RandomSource& random,
                       MhtmlDocument& doc, const MhtmlLimits& limits = {});
// The same for a document already in memory (`name` gives the extension).
bool ReadMhtmlBytes(std::string_view bytes, std::string_view name, const std::string& tempFolder,
                    RandomSource& random, MhtmlDocument& doc, const MhtmlLimits& limits = {});

}  // namespace px::mailformat
