#pragma once
// Text of a document, for the search and its index: one interface over the readers of plain
// files, Word files (the piece table of the OLE "WordDocument" stream), rich text and Write,
// OpenDocument and Office Open XML, PDF, HTML and stored messages. A reader hands out the text as
// UTF-8 pieces through a TextSink, a window at a time: memory is bounded by the window, not by
// the file. Readers never change the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace px::search {

class TextSink {
public:
  virtual ~TextSink() = default;
  // The next piece of the text (whole characters of UTF-8). Answers false to stop reading.
  virtual bool Put(std::string_view utf8) = 0;
};

enum class DocKind { Plain, Word, RichText, OpenDocument, OfficeXml, Html, Mail, Pdf };

// The reader a file goes to, by its extension (lower-cased) and its first bytes. Without
// otherFormats every file is plain.
DocKind KindOfFile(const std::string& path, bool otherFormats);

struct ExtractStatus {
  bool ok = true;    // the file was read (a reader that gave up fell back to the plain reader)
  int error = 0;     // errno when it could not be opened or read
};

// Reads the file's text into the sink. Stops when the sink answers false.
ExtractStatus ExtractText(const std::string& path, TextSink& sink, bool otherFormats = true);

// The readers, for the tests and fuzz targets (they take whole inputs or files).
ExtractStatus ExtractPlain(const std::string& path, TextSink& sink);
ExtractStatus ExtractWord(const std::string& path, TextSink& sink);
ExtractStatus ExtractRichText(const std::string& path, TextSink& sink);
ExtractStatus ExtractZipXml(const std::string& path, DocKind kind, TextSink& sink);
ExtractStatus ExtractHtml(const std::string& path, TextSink& sink);
ExtractStatus ExtractMail(const std::string& path, TextSink& sink);
ExtractStatus ExtractPdf(const std::string& path, TextSink& sink);

// The text of a Word "WordDocument" stream with its table stream (0Table or 1Table) through the
// piece table; false when the streams do not hold a readable piece table (the caller falls back).
bool WordTextFromStreams(std::string_view wordDocument, std::string_view table, TextSink& sink);

// The code page of a plain file's first bytes (at most 64 KiB looked at): 65001 for ASCII and
// valid UTF-8, else what ICU's detector names (0 when it cannot tell).
int SampleCodePage(std::string_view sample);

// Streams bytes of a code page to UTF-8, keeping a character cut between two pieces whole.
class StreamDecoder {
public:
  explicit StreamDecoder(int codePage);
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;
  void SetCodePage(int codePage);
  // Appends the UTF-8 of the bytes to out; flush at the end of the text.
  void Decode(std::string_view bytes, std::string& out, bool flush = false);

private:
  void* conv_ = nullptr;  // UConverter
  bool passThrough_ = true;
  std::string pending_;  // an incomplete UTF-8 sequence at the end of the last piece
};

}  // namespace px::search
