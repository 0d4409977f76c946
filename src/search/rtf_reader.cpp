#include "search/rtf_reader.h"

#include "foundation/charset.h"
#include "foundation/utf8.h"

#include <fcntl.h>
#include <unicode/ucnv.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace px::search {
namespace {

constexpr size_t kMaxDepth = 4096;
constexpr size_t kOutPiece = 64 * 1024;

constexpr std::array<std::string_view, 22> kSkipped = {
    "fonttbl", "colortbl", "stylesheet", "info", "pict", "object", "themedata",
    "colorschememapping", "datastore", "latentstyles", "rsidtbl", "listtable",
    "listoverridetable", "generator", "xmlnstbl", "fldinst", "filetbl", "revtbl",
    "pgdsctbl", "nonshppict", "shpinst", "xe"};

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

RtfDecoder::RtfDecoder(TextSink& sink) : sink_(sink) {}

void RtfDecoder::SetCodePage(int codePage) {
  FlushBytes();
  if (codePage == codePage_) return;
  codePage_ = codePage;
  tableReady_ = false;
  multiByte_.reset();
}

void RtfDecoder::FlushBytes() {
  if (bytes_.empty()) return;
  if (codePage_ == kCodePageUtf8) {
    out_ += bytes_;
    bytes_.clear();
    return;
  }
  if (!tableReady_ && !multiByte_) {
    bool single = false;
    UErrorCode err = U_ZERO_ERROR;
    const std::string name = CharsetNameOfCodePage(codePage_);
    if (UConverter* c = name.empty() ? nullptr : ucnv_open(name.c_str(), &err)) {
      single = U_SUCCESS(err) && ucnv_getMaxCharSize(c) == 1 && ucnv_getMinCharSize(c) == 1;
      ucnv_close(c);
    }
    if (single) {
      for (int b = 0x80; b < 0x100; ++b) {
        const char c = static_cast<char>(b);
        upper_[b - 0x80] = DecodeFromCodePage(std::string_view(&c, 1), codePage_);
      }
      tableReady_ = true;
    }
    else multiByte_ = std::make_unique<StreamDecoder>(codePage_);
  }
  if (tableReady_) {
    for (char c : bytes_) out_ += upper_[static_cast<unsigned char>(c) - 0x80];
  } else {
    multiByte_->Decode(bytes_, out_, true);
  }
  bytes_.clear();
}

void RtfDecoder::Emit(std::string_view utf8) {
  FlushBytes();
  if (highSurrogate_) {
    out_ += "\xEF\xBF\xBD";
    highSurrogate_ = 0;
  }
  out_.append(utf8);
  if (out_.size() >= kOutPiece && !stopped_) {
    stopped_ = !sink_.Put(out_);
    out_.clear();
  }
}

void RtfDecoder::EmitCodeUnit(uint32_t unit) {
  FlushBytes();
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    highSurrogate_ = unit;
    return;
  }
  std::string s;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (highSurrogate_) {
      AppendUtf8(s, 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
      highSurrogate_ = 0;
      out_ += s;
      return;
    }
    s = "\xEF\xBF\xBD";
  } else if (unit < 0x20 && unit != '\t' && unit != '\n') {
    s = " ";
  } else {
    AppendUtf8(s, unit);
  }
  Emit(s);
}

void RtfDecoder::TextByte(unsigned char c) {
  if (Skipping()) return;
  if (skipCount_ > 0) {
    --skipCount_;
    return;
  }
  if (c < 0x80) {
    char ch = static_cast<char>(c);
    Emit(std::string_view(&ch, 1));
  } else {
    if (highSurrogate_) Emit({});
    bytes_ += static_cast<char>(c);
  }
}

void RtfDecoder::Dispatch() {
  long long n = 0;
  bool hasParam = !param_.empty();
  for (char d : param_) n = n * 10 + (d - '0');
  if (negative_) n = -n;
  const std::string_view w = word_;
  if (std::find(kSkipped.begin(), kSkipped.end(), w) != kSkipped.end()) {
    group_.skip = true;
  } else if (Skipping()) {
    if (w == "bin" && hasParam && n > 0) {
      binLeft_ = static_cast<uint64_t>(n);
      state_ = State::Bin;
      return;
    }
  } else if (w == "par" || w == "line" || w == "row" || w == "sect" || w == "page" || w == "cell") {
    Emit("\n");
  } else if (w == "tab") {
    Emit("\t");
  } else if (w == "emdash" || w == "endash") {
    Emit("-");
  } else if (w == "lquote" || w == "rquote") {
    Emit("'");
  } else if (w == "ldblquote" || w == "rdblquote") {
    Emit("\"");
  } else if (w == "bullet") {
    Emit("\xE2\x80\xA2");
  } else if (w == "ansicpg" && hasParam) {
    if (n > 0 && n < 100000) SetCodePage(static_cast<int>(n));
  } else if (w == "ansi" || w == "mac" || w == "pc" || w == "pca") {
    SetCodePage(w == "ansi" ? 1252 : w == "mac" ? 10000 : w == "pc" ? 437 : 850);
  } else if (w == "uc" && hasParam) {
    group_.uc = static_cast<int>(std::clamp<long long>(n, 0, 16));
  } else if (w == "u" && hasParam) {
    long long v = n < 0 ? n + 65536 : n;
    EmitCodeUnit(static_cast<uint32_t>(std::clamp<long long>(v, 0, 0xFFFF)));
    skipCount_ = group_.uc;
    state_ = State::Text;
    return;
  } else if (w == "bin" && hasParam && n > 0) {
    binLeft_ = static_cast<uint64_t>(n);
    state_ = State::Bin;
    return;
  }
  state_ = State::Text;
}

void RtfDecoder::Byte(unsigned char c) {
  switch (state_) {
    case State::Bin:
      if (--binLeft_ == 0) state_ = State::Text;
      return;
    case State::Text:
      if (c == '{') {
        if (stack_.size() >= kMaxDepth) {
          ++flattened_;
        } else {
          stack_.push_back(group_);
        }
        skipCount_ = 0;
      } else if (c == '}') {
        if (flattened_) {
          --flattened_;
        } else if (!stack_.empty()) {
          FlushBytes();
          group_ = stack_.back();
          stack_.pop_back();
        }
        skipCount_ = 0;
      } else if (c == '\\') {
        state_ = State::Slash;
      } else if (c == '\r' || c == '\n') {
        // line breaks of the file are not text
      } else {
        TextByte(c);
      }
      return;
    case State::Slash:
      if (isLetter(c)) {
        word_.assign(1, static_cast<char>(c));
        param_.clear();
        negative_ = false;
        state_ = State::Word;
        return;
      }
      state_ = State::Text;
      if (c == '\'') {
        state_ = State::Hex1;
      } else if (c == '*') {
        group_.skip = true;
      } else if (c == '{' || c == '}' || c == '\\') {
        TextByte(c);
      } else if (c == '\r' || c == '\n') {
        if (!Skipping()) Emit("\n");
      } else if (c == '~') {
        if (!Skipping()) Emit(" ");
      } else if (c == '_') {
        if (!Skipping()) Emit("-");
      } else if (c == '\t') {
        if (!Skipping()) Emit("\t");
      }
      return;
    case State::Word:
      if (isLetter(c)) {
        if (word_.size() < 32) word_ += static_cast<char>(c);
        return;
      }
      if (c == '-' || (c >= '0' && c <= '9')) {
        negative_ = c == '-';
        if (!negative_) param_.assign(1, static_cast<char>(c));
        state_ = State::Param;
        return;
      }
      Dispatch();
      if (c != ' ') Byte(c);
      return;
    case State::Param:
      if (c >= '0' && c <= '9') {
        if (param_.size() < 10) param_ += static_cast<char>(c);
        return;
      }
      Dispatch();
      if (c != ' ') Byte(c);
      return;
    case State::Hex1: {
      const int v = hexValue(c);
      if (v < 0) {
        state_ = State::Text;
        Byte(c);
        return;
      }
      hex_ = v;
      state_ = State::Hex2;
      return;
    }
    case State::Hex2: {
      const int v = hexValue(c);
      state_ = State::Text;
      if (v < 0) {
        Byte(c);
        return;
      }
      TextByte(static_cast<unsigned char>(hex_ * 16 + v));
      return;
    }
  }
}

bool RtfDecoder::Feed(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size() && !stopped_; ++i) {
    if (state_ == State::Bin) {
      // Binary data is skipped in one step.
      const uint64_t take = std::min<uint64_t>(binLeft_, bytes.size() - i);
      binLeft_ -= take;
      i += take - 1;
      if (binLeft_ == 0) state_ = State::Text;
      continue;
    }
    Byte(static_cast<unsigned char>(bytes[i]));
  }
  return !stopped_;
}

bool RtfDecoder::Finish() {
  if (state_ == State::Word || state_ == State::Param) Dispatch();
  FlushBytes();
  if (highSurrogate_) {
    out_ += "\xEF\xBF\xBD";
    highSurrogate_ = 0;
  }
  if (!stopped_ && !out_.empty()) stopped_ = !sink_.Put(out_);
  out_.clear();
  return !stopped_;
}

ExtractStatus ExtractRichText(const std::string& path, TextSink& sink) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {false, errno};
  std::string buf(1 << 20, '\0');
  RtfDecoder dec(sink);
  bool first = true;
  while (true) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return {false, e};
    }
    if (first) {
      first = false;
      // A Write file (or anything else under these extensions) that is not rich text.
      if (n < 5 || std::memcmp(buf.data(), "{\\rtf", 5) != 0) {
        ::close(fd);
        return ExtractPlain(path, sink);
      }
    }
    if (n == 0) break;
    if (!dec.Feed(std::string_view(buf.data(), static_cast<size_t>(n)))) {
      ::close(fd);
      return {};
    }
  }
  ::close(fd);
  dec.Finish();
  return {};
}

}  // namespace px::search
