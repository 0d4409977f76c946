#include "import/mbox_splitter.h"

#include <algorithm>

namespace px::import {

bool IsMboxSeparator(std::string_view line) { return line.starts_with("From "); }

namespace {

// ">From ", ">>From ", ...: quoted once more by the writer than in the message.
bool IsQuotedSeparator(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && line[i] == '>') ++i;
  return i > 0 && line.substr(i).starts_with("From ");
}

}  // namespace

void MboxSplitter::FlushPiece(bool last) {
  std::string_view text = line_;
  if (mode_ == Mode::Single) {
    if (!inMessage_) {
      inMessage_ = true;
      ++messages_;
      sink_.BeginMessage(0);
    }
    sink_.LinePiece(text, lineFirst_, last);
    line_.clear();
    lineFirst_ = last;
    return;
  }
  if (lineFirst_) {
    // A line's first piece is at least as long as a separator can need (kMaxPiece is far
    // above it), so separators and quoting are decided on whole prefixes.
    if (IsMboxSeparator(text)) {
      if (inMessage_) sink_.EndMessage();  // a held empty line was the separator's
      heldEmpty_ = false;
      inMessage_ = true;
      ++messages_;
      sink_.BeginMessage(lineStart_);
      line_.clear();
      // The rest of a long separator line is dropped with it.
      lineFirst_ = last;
      skipRest_ = !last;
      return;
    }
    if (IsQuotedSeparator(text)) text.remove_prefix(1);
  }
  if (skipRest_) {
    skipRest_ = !last;
  } else if (inMessage_) {
    // An empty line just before a separator (or the end) belongs to the mailbox, not the message.
    if (heldEmpty_) {
      sink_.LinePiece({}, true, true);
      heldEmpty_ = false;
    }
    if (lineFirst_ && last && text.empty()) heldEmpty_ = true;
    else sink_.LinePiece(text, lineFirst_, last);
  } else {
    stray_ += line_.size();
  }
  line_.clear();
  lineFirst_ = last;
}

void MboxSplitter::EndLine() { FlushPiece(true); }

void MboxSplitter::Feed(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (pendingCr_) {
      pendingCr_ = false;
      if (c == '\n') {
        ++offset_;
        lineStart_ = offset_;
        continue;
      }
      lineStart_ = offset_;
    }
    ++offset_;
    if (c == '\n') {
      EndLine();
      lineStart_ = offset_;
    } else if (c == '\r') {
      EndLine();
      pendingCr_ = true;
    } else {
      // The rest of the line (up to the piece's limit) at once.
      const size_t limit = std::min(bytes.size(), i + (kMaxPiece - line_.size()));
      size_t end = i + 1;
      while (end < limit && bytes[end] != '\n' && bytes[end] != '\r') ++end;
      line_.append(bytes.data() + i, end - i);
      offset_ += end - i - 1;
      i = end - 1;
      if (line_.size() >= kMaxPiece) FlushPiece(false);
    }
  }
}

void MboxSplitter::Finish() {
  if (!line_.empty() || !lineFirst_) FlushPiece(true);
  pendingCr_ = false;
  if (inMessage_) sink_.EndMessage();
  inMessage_ = false;
  heldEmpty_ = false;
}

}  // namespace px::import
