#include "mailformat/line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px::mailformat {

// Two bytes at least, so that a CR LF is never split between two pieces.
LineReader::LineReader(size_t bufferSize) : bufferSize_(bufferSize < 2 ? 2 : bufferSize) {}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool LineReader::OpenFile(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  chunk_ = 0;
  // Non-blocking so a FIFO in place of a message cannot hang the reader (it fails instead).
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    error_ = errno;
    failed_ = true;
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    // Not a file (a folder, a FIFO, a device): reading it fails rather than hangs or lies.
    error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    failed_ = true;
    eof_ = true;
    data_ = buf_.data();
    pos_ = end_ = 0;
    return true;
  }
  if (buf_.size() != bufferSize_) buf_.resize(bufferSize_);
  data_ = buf_.data();
  pos_ = end_ = 0;
  eof_ = failed_ = false;
  atLineStart_ = true;
  return true;
}

void LineReader::OpenMemory(std::string_view data) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  chunk_ = 0;
  data_ = data.data();
  pos_ = 0;
  end_ = data.size();
  eof_ = true;
  failed_ = false;
  atLineStart_ = true;
}

void LineReader::OpenMemoryInChunks(std::string_view data, size_t chunk) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (buf_.size() != bufferSize_) buf_.resize(bufferSize_);
  data_ = buf_.data();
  pos_ = end_ = 0;
  chunked_ = data;
  chunk_ = chunk == 0 ? 1 : chunk;
  eof_ = failed_ = false;
  atLineStart_ = true;
}

bool LineReader::Fill() {
  if (eof_ || (fd_ < 0 && chunk_ == 0)) return false;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buf_.size()) return false;
  if (chunk_ > 0) {
    size_t n = std::min({chunk_, buf_.size() - end_, chunked_.size()});
    if (n == 0) {
      eof_ = true;
      return false;
    }
    std::memcpy(buf_.data() + end_, chunked_.data(), n);
    chunked_.remove_prefix(n);
    end_ += n;
    return true;
  }
  for (;;) {
    ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      failed_ = true;
      eof_ = true;
      return false;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    end_ += size_t(n);
    return true;
  }
}

bool LineReader::Next(LinePiece& piece) {
  for (;;) {
    const char* start = data_ + pos_;
    const char* nl =
        end_ > pos_ ? static_cast<const char*>(std::memchr(start, '\n', end_ - pos_)) : nullptr;
    if (nl) {
      size_t len = size_t(nl - start);
      size_t textLen = (len > 0 && start[len - 1] == '\r') ? len - 1 : len;
      piece.text = std::string_view(start, textLen);
      piece.first = atLineStart_;
      piece.last = true;
      piece.ended = true;
      atLineStart_ = true;
      pos_ += len + 1;
      return true;
    }
    if (Fill()) continue;
    start = data_ + pos_;  // Fill may have moved the unread bytes to the front
    size_t avail = end_ - pos_;
    if (avail == 0) return false;
    if (eof_) {
      // The last line has no line end (a lone CR still counts as one).
      size_t textLen = (data_[end_ - 1] == '\r') ? avail - 1 : avail;
      piece.text = std::string_view(start, textLen);
      piece.first = atLineStart_;
      piece.last = true;
      piece.ended = textLen != avail;
      atLineStart_ = true;
      pos_ = end_;
      return true;
    }
    // The buffer is full without a line end: hand out a piece, keeping a trailing CR back so
    // that a CR LF is never split between two pieces.
    size_t take = (data_[end_ - 1] == '\r' && avail > 1) ? avail - 1 : avail;
    piece.text = std::string_view(start, take);
    piece.first = atLineStart_;
    piece.last = false;
    piece.ended = false;
    atLineStart_ = false;
    pos_ += take;
    return true;
  }
}

}  // namespace px::mailformat
