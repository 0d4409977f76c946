#pragma once
// Reads a file (or a memory block) line by line in large chunks, so a big message is never held
// whole. Lines end in LF or CR LF; the line end is not part of the text. A line longer than the
// buffer comes in several pieces.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace px::mailformat {

struct LinePiece {
  std::string_view text;  // valid until the next call of Next()
  bool first = true;      // the piece starts a line
  bool last = true;       // the piece ends its line
  bool ended = true;      // with `last`: a line end followed (false only for the input's last line)
};

class LineReader {
public:
  static constexpr size_t kDefaultBuffer = size_t(1) << 20;

  explicit LineReader(size_t bufferSize = kDefaultBuffer);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Opens a file; false (and errno kept in error()) when it cannot be opened.
  bool OpenFile(const std::string& path);
  // Reads from memory that outlives the reader.
  void OpenMemory(std::string_view data);
  // Reads from memory as from a file that gives at most `chunk` bytes per read (through the
  // buffer), so tests and the fuzzer can try every way a message may arrive.
  void OpenMemoryInChunks(std::string_view data, size_t chunk);

  // The next piece; false at the end of the input or on a read error (see failed()).
  bool Next(LinePiece& piece);
  bool failed() const { return failed_; }
  int error() const { return error_; }

private:
  bool Fill();
  int fd_ = -1;
  size_t bufferSize_;
  std::string_view chunked_;  // memory still to be read in chunks
  size_t chunk_ = 0;
  std::vector<char> buf_;  // allocated when a file is opened
  const char* data_ = nullptr;  // current window: buf_ or external memory
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false, failed_ = false, atLineStart_ = true;
  int error_ = 0;
};

}  // namespace px::mailformat
