#pragma once
// Splits a mailbox file (messages one after another, each begun by a line that starts "From ")
// into messages, fed in chunks of any size. Lines end in LF, CR LF or a lone CR; the last line
// may have no end; NUL and other bytes pass unchanged. A line longer than kMaxPiece reaches the
// sink in pieces, so memory stays bounded whatever the file holds. Text before the first
// separator is not a message. Quoted separators (">From ", ">>From ", ...) lose one ">".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace px::import {

class MboxSink {
public:
  virtual ~MboxSink() = default;
  // A separator line began a message at this byte offset of the input.
  virtual void BeginMessage(uint64_t offset) = 0;
  // A piece of a message line, without its line end; `last` when the line ends with it.
  virtual void LinePiece(std::string_view text, bool first, bool last) = 0;
  virtual void EndMessage() = 0;
};

class MboxSplitter {
public:
  static constexpr size_t kMaxPiece = 64 * 1024;

  enum class Mode {
    Mailbox,  // messages begun by "From " lines
    Single,   // the whole input is one message (a Maildir file): no separators, no unquoting
  };
  explicit MboxSplitter(MboxSink& sink, Mode mode = Mode::Mailbox) : sink_(sink), mode_(mode) {}
  void Feed(std::string_view bytes);
  // Ends the input: the last line (with or without its end) and the last message.
  void Finish();

  uint64_t messages() const { return messages_; }
  // Bytes before the first separator that were dropped (a file that is no mailbox has them all).
  uint64_t strayBytes() const { return stray_; }

private:
  void EndLine();
  void FlushPiece(bool last);
  MboxSink& sink_;
  Mode mode_;
  std::string line_;         // the current piece of the current line
  bool lineFirst_ = true;    // line_ starts its line
  bool pendingCr_ = false;   // a CR was the last byte seen: the line ended unless LF follows
  bool inMessage_ = false;
  bool heldEmpty_ = false;   // an empty message line not yet passed on
  bool skipRest_ = false;    // the rest of a separator line longer than a piece
  uint64_t offset_ = 0;      // input offset of the next byte
  uint64_t lineStart_ = 0;   // input offset of the current line's first byte
  uint64_t messages_ = 0, stray_ = 0;
};

// True when `line` (without its end) is a message separator.
bool IsMboxSeparator(std::string_view line);

}  // namespace px::import
