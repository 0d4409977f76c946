#pragma once
// Writing HTML documents as ".eml"/".mht" files (MIME with the text, the HTML and the embedded
// pictures) or as ".htm" with a "_files" folder, behind an abstract HTML editor.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/random.h"
#include "mailformat/mhtml_loader.h"

namespace px::mailformat {

// What the writer and loader need of an HTML editing component. The editor speaks UTF-8 HTML;
// charsets are handled here.
class HtmlEditor {
public:
  virtual ~HtmlEditor() = default;
  // The document's HTML source as the editor would save it.
  virtual std::string Html() const = 0;
  // Replaces the document. Relative references resolve against `baseFolder` (ends in "/", or "").
  virtual void SetHtml(std::string_view html, const std::string& baseFolder) = 0;
  // Inserts HTML at the selection.
  virtual void PasteHtml(std::string_view html) = 0;
  // The document's plain text; by default the HTML-to-text conversion of Html().
  virtual std::string Text() const;
};

// Which local files may be embedded into a saved message: regular files inside one of the
// folders (the document's resource folder, the program's temporary folder) or files the user
// inserted, and none larger than the cap. Anything else stays a link.
struct ResourcePolicy {
  std::vector<std::string> folders;
  std::vector<std::string> insertedFiles;
  uint64_t maxFileSize = 20 * 1024 * 1024;
};

struct MhtmlBuildResult {
  std::string mime;                             // the file's bytes, CR LF lines
  std::string html;                             // the HTML with embedded pictures as "cid:" references
  std::string charset;                          // the charset the text was written in
  std::map<std::string, std::string> embedded;  // local file -> content id
};

// The MIME file for a document. `html` and `text` are UTF-8; they are written in `charset` when
// it can hold them, else in UTF-8 (nothing is lost to substitution characters). `baseFolder`
// resolves relative picture references.
MhtmlBuildResult BuildMhtml(std::string_view html, std::string_view text, std::string_view charset,
                            const std::string& baseFolder, const ResourcePolicy& policy, RandomSource& random);

// The same, written in pieces to `sink` (pictures are read in chunks, never held whole); false
// when a picture could not be read or the sink failed. `result.mime` stays empty.
bool WriteMhtml(std::string_view html, std::string_view text, std::string_view charset, const std::string& baseFolder,
                const ResourcePolicy& policy, RandomSource& random, MhtmlBuildResult& result,
                const std::function<bool(std::string_view)>& sink);

// A local file path for a picture reference ("file:" URLs, absolute paths, paths relative to
// `baseFolder`); "" for remote and "cid:" references.
std::string LocalPathOfReference(std::string_view reference, const std::string& baseFolder);

// The file is a regular file the policy lets us embed.
bool MayEmbed(const std::string& path, const ResourcePolicy& policy);

// The MIME type of a file for its Content-Type ("application/octet-stream" when unknown).
std::string ContentTypeOfFile(const std::string& path);

// `html` (UTF-8) in `charset` with its META charset declarations saying so; falls back to UTF-8
// when the charset cannot hold the text. `charset` receives the one used.
std::string EncodeHtmlForCharset(std::string_view html, std::string& charset);

// The document wrapper of the HTML editor: loads ".htm", ".mht" and ".eml" documents (extracting
// embedded resources and pointing the HTML at them), saves as MIME or as ".htm" + "_files".
class TDHTMLEditWrap {
public:
  // `tempFolder` is the program's own temporary folder (ends in "/").
  TDHTMLEditWrap(HtmlEditor& editor, std::string tempFolder, RandomSource& random);
  ~TDHTMLEditWrap();
  TDHTMLEditWrap(const TDHTMLEditWrap&) = delete;
  TDHTMLEditWrap& operator=(const TDHTMLEditWrap&) = delete;

  // Reads a document into the editor. False (with LastError()) when it cannot be read.
  bool Load(const std::string& path);
  // Saves to `path` ("" = the current document). ".mht"/".eml" write MIME; anything else HTML.
  // False (with LastError()) when there is no path or writing failed; the old file is kept.
  bool Save(const std::string& path = {});

  std::string Source() const { return editor_.Html(); }
  std::string Text() const { return editor_.Text(); }
  void LoadSource(std::string_view html);
  void PasteHtml(std::string_view html) { editor_.PasteHtml(html); }
  // Inserts a picture the user chose; only such files (and the document's own resources) are
  // embedded when the document is saved.
  void InsertImage(const std::string& path);

  const std::string& DocumentCharset() const { return charset_; }
  void SetDocumentCharset(std::string_view charset) { charset_ = charset; }
  const std::string& DocumentPath() const { return path_; }
  const std::string& ResourceFolder() const { return resourceFolder_; }
  const TMsgHeader& Header() const { return header_; }
  bool ReadWithResources() const { return readWithResources_; }
  const std::string& LastError() const { return error_; }
  // Cap on the size of one embedded file.
  void SetMaxResourceSize(uint64_t bytes) { maxResourceSize_ = bytes; }

private:
  void DropResources();
  bool WriteFile(const std::string& path, std::string_view bytes);
  ResourcePolicy Policy() const;

  HtmlEditor& editor_;
  std::string tempFolder_;
  RandomSource& random_;
  std::string path_;
  std::string resourceFolder_;
  std::string baseFolder_;
  TMsgHeader header_;
  std::string charset_;
  std::vector<std::string> inserted_;
  bool readWithResources_ = false;
  uint64_t maxResourceSize_ = 20 * 1024 * 1024;
  std::string error_;
};

}  // namespace px::mailformat
