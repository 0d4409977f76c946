#include "transport/upload_record.h"

#include "foundation/dates.h"
#include "foundation/random.h"
#include "mailformat/codecs.h"

#include <bzlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace px::transport {

namespace {

using mailformat::XmlEscape;

constexpr size_t kChunk = 256 * 1024;

std::string SysError(const std::string& what, int err) {
  return what + "\r\rError " + std::to_string(err) + ": " + std::strerror(err);
}

bool WriteAll(int fd, const char* data, size_t len) {
  while (len) {
    const ssize_t w = ::write(fd, data, len);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    len -= static_cast<size_t>(w);
  }
  return true;
}

void PutLe32(char* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Compresses from `read` (returning bytes read, 0 at the end, -1 on error) into fd.
// Returns the compressed length, or -1 with error set.
int64_t CompressTo(int fd, const std::function<ssize_t(char*, size_t)>& read, std::string* error) {
  bz_stream s;
  std::memset(&s, 0, sizeof s);
  if (BZ2_bzCompressInit(&s, 1, 0, 0) != BZ_OK) {
    if (error) *error = "The compressor could not be started.";
    return -1;
  }
  std::unique_ptr<char[]> in(new char[kChunk]), out(new char[kChunk]);
  int64_t total = 0;
  bool done = false, failed = false;
  while (!done && !failed) {
    const ssize_t got = read(in.get(), kChunk);
    if (got < 0) {
      failed = true;
      break;
    }
    s.next_in = in.get();
    s.avail_in = static_cast<unsigned>(got);
    const int action = got == 0 ? BZ_FINISH : BZ_RUN;
    do {
      s.next_out = out.get();
      s.avail_out = kChunk;
      const int rc = BZ2_bzCompress(&s, action);
      if (rc < 0) {
        if (error) *error = "The compressor failed.";
        failed = true;
        break;
      }
      const size_t produced = kChunk - s.avail_out;
      if (produced && !WriteAll(fd, out.get(), produced)) {
        if (error) *error = SysError("Cannot write the upload stream", errno);
        failed = true;
        break;
      }
      total += static_cast<int64_t>(produced);
      if (rc == BZ_STREAM_END) done = true;
    } while (!failed && !done && (s.avail_in > 0 || action == BZ_FINISH));
  }
  BZ2_bzCompressEnd(&s);
  return failed ? -1 : total;
}

}  // namespace

std::string EnvelopeText(const EnvelopeFields& f, uint64_t fileSize, std::string_view deliveredTo) {
  std::vector<std::string> lines;
  lines.reserve(20 + f.to.size() + f.cc.size() + f.bcc.size());
  lines.push_back("<?xml version=\"1.0\"?>");
  lines.push_back("<!DOCTYPE pxmailfile>");
  lines.push_back("<pxmailfile>");
  lines.push_back("<Header>");
  lines.push_back("<version ver=\"3.01\"/>");
  lines.push_back("<From addr=\"" + XmlEscape(f.from) + "\" user=\"" + f.user + "\"/>");
  for (const auto& a : f.to) lines.push_back("<To addr=\"" + XmlEscape(a) + "\"/>");
  for (const auto& a : f.cc) lines.push_back("<Cc addr=\"" + XmlEscape(a) + "\"/>");
  for (const auto& a : f.bcc) lines.push_back("<Bcc addr=\"" + XmlEscape(a) + "\"/>");
  lines.push_back("<Date sent=\"" + XmlEscape(f.date) + "\"/>");
  lines.push_back("<Subject>" + XmlEscape(f.subject) + "</Subject>");
  std::string info = "<Fileinfo";
  if (!f.mimeType.empty()) info += " mimetype=\"" + XmlEscape(f.mimeType) + "\"";
  if (f.noTags) info += " notags=\"1\"";
  if (!f.charset.empty()) info += " charset=\"" + XmlEscape(f.charset) + "\"";
  info += " filename=\"" + XmlEscape(f.fileName) + "\" ext=\"" + XmlEscape(f.ext) + "\"/>";
  lines.push_back(std::move(info));
  if (!f.msgId.empty()) {
    std::string id = f.msgId;
    if (!deliveredTo.empty()) {
      const size_t star = id.find('*');
      if (star != std::string::npos) id.replace(star, 1, "_PGP_" + std::string(deliveredTo));
    }
    std::string line = "<msgid messageid=\"" + id + "\"";
    if (f.parts) line += " parts=\"" + std::to_string(f.parts) + "\" currpart=\"" + std::to_string(f.currPart) + "\"";
    line += "/>";
    lines.push_back(std::move(line));
    if (!deliveredTo.empty()) lines.push_back("<Delivered-To addr=\"" + XmlEscape(deliveredTo) + "\"/>");
  }
  lines.push_back("</Header>");
  lines.push_back("</pxmailfile>");
  lines.insert(lines.end() - 3, "<Size bytes=\"" + std::to_string(fileSize) + "\"/>");
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  return text;
}

std::string Bzip2Level1(std::string_view data) {
  unsigned int len = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
  std::string out(len, '\0');
  if (BZ2_bzBuffToBuffCompress(out.data(), &len, const_cast<char*>(data.data()),
                               static_cast<unsigned>(data.size()), 1, 0, 0) != BZ_OK)
    return {};
  out.resize(len);
  return out;
}

UploadStream::~UploadStream() { Remove(); }

void UploadStream::Remove() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
  size_ = 0;
  lengths_.clear();
}

bool UploadStream::Create(const std::string& tempFolder, RandomSource& random, std::string* error) {
  Remove();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = tempFolder + "PX" + NewUniqueId(random) + ".tmp";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      fd_ = fd;
      path_ = path;
      return true;
    }
    if (errno != EEXIST) {
      if (error) *error = SysError("Cannot create " + path, errno);
      return false;
    }
  }
  if (error) *error = "Cannot create the upload stream in " + tempFolder;
  return false;
}

uint64_t UploadStream::AppendRecord(std::string_view envelopeText, const std::string& filePath,
                                    uint64_t fileSize, std::string* error,
                                    const std::function<bool(uint64_t)>& onBytes) {
  if (fd_ < 0) {
    if (error) *error = "The upload stream is not open.";
    return 0;
  }
  if (fileSize > kMaxPartFileSize) {
    if (error) *error = filePath + " is larger than 4 GB.";
    return 0;
  }
  const int in = ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    if (error) *error = SysError("Cannot open " + filePath, errno);
    return 0;
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{in};
  const off_t start = static_cast<off_t>(size_);
  // Failures leave the stream as it was before this record.
  auto undo = [&](const std::string& text) {
    if (error && error->empty()) *error = text;
    if (::ftruncate(fd_, start) != 0) {}
    ::lseek(fd_, start, SEEK_SET);
    return uint64_t{0};
  };
  if (error) error->clear();
  ::lseek(fd_, start, SEEK_SET);
  char header[12] = {};
  if (!WriteAll(fd_, header, sizeof header)) return undo(SysError("Cannot write the upload stream", errno));
  size_t envPos = 0;
  const int64_t envCompressed = CompressTo(fd_, [&](char* buf, size_t cap) -> ssize_t {
    const size_t n = std::min(cap, envelopeText.size() - envPos);
    std::memcpy(buf, envelopeText.data() + envPos, n);
    envPos += n;
    return static_cast<ssize_t>(n);
  }, error);
  if (envCompressed < 0) return undo("");
  uint64_t fileRead = 0;
  bool stopped = false;
  const int64_t fileCompressed = CompressTo(fd_, [&](char* buf, size_t cap) -> ssize_t {
    for (;;) {
      const ssize_t got = ::read(in, buf, cap);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        if (error) *error = SysError("Cannot read " + filePath, errno);
        return -1;
      }
      fileRead += static_cast<uint64_t>(got);
      if (fileRead > fileSize) return -1;
      if (got > 0 && onBytes && !onBytes(static_cast<uint64_t>(got))) {
        stopped = true;
        return -1;
      }
      return got;
    }
  }, error);
  if (stopped) return undo("The transfer was stopped.");
  if (fileCompressed < 0 || fileRead != fileSize)
    return undo(filePath + " changed while it was being packed.");
  PutLe32(header, static_cast<uint32_t>(envCompressed));
  PutLe32(header + 4, static_cast<uint32_t>(envelopeText.size()));
  PutLe32(header + 8, static_cast<uint32_t>(fileSize));
  if (::pwrite(fd_, header, sizeof header, start) != static_cast<ssize_t>(sizeof header))
    return undo(SysError("Cannot write the upload stream", errno));
  const uint64_t length = 12 + static_cast<uint64_t>(envCompressed) + static_cast<uint64_t>(fileCompressed);
  size_ += length;
  ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
  lengths_.push_back(length);
  return length;
}

}  // namespace px::transport
