#include "incoming/service_envelope.h"

#include "incoming/received_keys.h"

#include <bzlib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <pugixml.hpp>

#include "foundation/file_status.h"
#include "foundation/strings.h"
#include "mailformat/spool.h"

namespace px::incoming {

using mailformat::MailSpool;
using mailformat::PartDescriptor;
using mailformat::SourceTrust;
using mailformat::SpoolFileWriter;

namespace {

constexpr size_t kChunk = 256 * 1024;
// Room left on the disk after a body is written, so a hostile size cannot fill it.
constexpr uint64_t kDiskReserve = 64ull << 20;

std::string Attr(const pugi::xml_node& parent, const char* element, const char* attr) {
  return Latin1Bytes(parent.child(element).attribute(attr).value());
}

std::string JoinAddrs(const pugi::xml_node& header, const char* element) {
  std::string out;
  for (pugi::xml_node n = header.child(element); n; n = n.next_sibling(element)) {
    std::string a = Latin1Bytes(n.attribute("addr").value());
    if (a.empty()) continue;
    if (!out.empty()) out += ", ";
    out += a;
  }
  return out;
}

std::string SysError(const std::string& verb, const std::string& path, int err) {
  return FileErrorText(verb, path, {}, err);
}

// Reads exactly n bytes at the current position.
bool ReadExact(int fd, char* buf, size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, buf, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    buf += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// Decompresses one bzip2 stream of `inBytes` bytes read from fd, which must give exactly
// `outBytes` bytes, handing them to sink. Nothing beyond outBytes is ever produced.
template <class Sink>
bool Decompress(int fd, uint64_t inBytes, uint64_t outBytes, Sink&& sink, std::string& error) {
  if (outBytes == 0 && inBytes == 0) return true;
  bz_stream bz{};
  if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) {
    error = "cannot start decompression";
    return false;
  }
  std::string in(kChunk, '\0'), out(kChunk, '\0');
  uint64_t left = inBytes, produced = 0;
  bool ended = false, ok = true;
  while (ok && !ended) {
    if (bz.avail_in == 0) {
      if (left == 0) {
        error = "the data ends inside a compressed stream";
        ok = false;
        break;
      }
      size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
      if (!ReadExact(fd, in.data(), n)) {
        error = "the download is shorter than its lengths say";
        ok = false;
        break;
      }
      left -= n;
      bz.next_in = in.data();
      bz.avail_in = static_cast<unsigned>(n);
    }
    // Never ask for more than is still expected, plus one byte to notice an overlong stream.
    uint64_t room = outBytes - produced + 1;
    bz.next_out = out.data();
    bz.avail_out = static_cast<unsigned>(std::min<uint64_t>(room, kChunk));
    const unsigned asked = bz.avail_out;
    int rc = BZ2_bzDecompress(&bz);
    const size_t got = asked - bz.avail_out;
    if (rc != BZ_OK && rc != BZ_STREAM_END) {
      error = "the compressed data is damaged";
      ok = false;
      break;
    }
    if (produced + got > outBytes) {
      error = "the data is longer than its length says";
      ok = false;
      break;
    }
    if (got > 0 && !sink(std::string_view(out.data(), got))) {
      error.clear();  // the sink says why
      ok = false;
      break;
    }
    produced += got;
    if (rc == BZ_STREAM_END) ended = true;
  }
  BZ2_bzDecompressEnd(&bz);
  if (ok && produced != outBytes) {
    error = "the data is shorter than its length says";
    ok = false;
  }
  return ok;
}

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

std::string Latin1Bytes(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      const unsigned char c2 = static_cast<unsigned char>(utf8[i + 1]);
      out += static_cast<char>(((c & 0x03) << 6) | (c2 & 0x3F));
      i += 2;
    } else {
      out += static_cast<char>(c);
      ++i;
    }
  }
  return out;
}

bool ParseEnvelope(std::string_view xml, EnvelopeInfo& out, std::string* error) {
  out = EnvelopeInfo{};
  pugi::xml_document doc;
  // The service declares no encoding: its bytes are read as ISO-8859-1 and given back as the
  // same bytes (Latin1Bytes), so text in any charset survives.
  pugi::xml_parse_result r =
      doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_latin1);
  if (!r) {
    if (error) *error = std::string("the envelope does not parse: ") + r.description();
    return false;
  }
  pugi::xml_node root = doc.document_element();
  pugi::xml_node header = root ? root.child("Header") : pugi::xml_node();
  if (!header) {
    if (error) *error = "the envelope has no header";
    return false;
  }
  PartDescriptor& d = out.descriptor;
  d.from = Attr(header, "From", "addr");
  std::string ext = Attr(header, "Fileinfo", "ext");
  if (ext.starts_with(kEncryptedKindPrefix)) {
    ext.erase(0, kEncryptedKindPrefix.size());
    out.encrypted = true;
  }
  // Only a delivery receipt may come as a marker; anything else named "$$$..." is a file.
  if (mailformat::IsMarkerKind(ext) && ext != mailformat::kReceiptKind)
    for (char& c : ext)
      if (c == '$') c = '_';
  out.rawMessage = ext == "msg_";
  d.kind = ext;
  d.name = Latin1Bytes(header.child("Subject").text().get());

  std::string to = JoinAddrs(header, "To"), cc = JoinAddrs(header, "Cc"), bcc = JoinAddrs(header, "Bcc");
  if (!to.empty()) d.AddTag("TO: ", to);
  if (!cc.empty()) d.AddTag("CC: ", cc);
  if (!bcc.empty()) d.AddTag("BCC: ", bcc);
  std::string received = Attr(header, "Date", "received");
  std::string sent = Attr(header, "Date", "sent");
  std::string charset = Attr(header, "Fileinfo", "charset");
  if (!received.empty()) d.AddTag("X-DATE-RECEIVED: ", received);
  if (!sent.empty()) d.AddTag("DATE: ", sent);
  if (!charset.empty()) d.AddTag("CHARSET: ", charset);
  pugi::xml_node sentNode = header.child("Sent");
  if (sentNode && (!std::string_view(sentNode.text().get()).empty() || sentNode.first_attribute()))
    d.AddLine("_Outbound");
  std::string id = Attr(header, "msgid", "messageid");
  if (!id.empty()) {
    if (size_t pgp = id.find("_PGP_"); pgp != std::string::npos) id.erase(pgp);
    std::string parts = Attr(header, "msgid", "parts");
    std::string cur = Attr(header, "msgid", "currpart");
    long nParts = std::strtol(parts.c_str(), nullptr, 10);
    if (nParts > 1) {
      while (cur.size() < 3) cur.insert(cur.begin(), '0');
      id += ":" + cur + "/" + parts;
    }
    if (ext != mailformat::kReceiptKind) id.insert(id.begin(), '0');
    d.AddTag("MsgID: ", id);
  }
  if (out.encrypted) d.AddLine("_Encrypted");
  d.AddLine(kUnpackedLine);
  return true;
}

std::string RawSpoolName(std::string_view base, SourceTrust trust) {
  std::string n(base);
  if (trust == SourceTrust::Network) n += "-n";
  else if (trust == SourceTrust::Trusted) n += "-t";
  return n;
}

SourceTrust TrustOfRawName(std::string_view name) {
  if (EndsWith(name, "-n")) return SourceTrust::Network;
  if (EndsWith(name, "-t")) return SourceTrust::Trusted;
  return SourceTrust::Receiver;
}

std::string ContainerKeyOf(MailSpool& spool, std::string_view name) {
  const std::string path = spool.PathOf(name, mailformat::kContainerExt);
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  unsigned char head[12];
  if (fileSize < 12 || !ReadExact(fd, reinterpret_cast<char*>(head), 12)) return {};
  const uint32_t envZ = Le32(head), envLen = Le32(head + 4);
  if (envZ > fileSize - 12 || envZ > kMaxEnvelopeBytes || envLen > kMaxEnvelopeBytes) return {};
  std::string xml, err;
  if (!Decompress(fd, envZ, envLen, [&xml](std::string_view b) { xml += b; return true; }, err)) return {};
  EnvelopeInfo info;
  if (!ParseEnvelope(xml, info, &err)) return {};
  // A receipt filed twice only records the delivery it already records.
  if (info.descriptor.kind == mailformat::kReceiptKind) return {};
  std::string msgId;
  bool outbound = false;
  for (const auto& t : info.descriptor.tagged) {
    if (t.starts_with("MsgID: ") && t.size() > 7) msgId = t.substr(7);
    if (t == "_Outbound") outbound = true;
  }
  if (msgId.empty()) return {};
  // A repeat is the same stored message: same kind, direction and subject as well.
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : info.descriptor.name) h = (h ^ c) * 1099511628211ull;
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(h));
  return ServiceMessageKey(info.descriptor.from, msgId) + " " + info.descriptor.kind +
         (info.encrypted ? " pgp" : "") + (info.rawMessage ? " raw" : "") + (outbound ? " out " : " in ") + digest;
}

UnpackResult UnpackContainer(MailSpool& spool, std::string_view name) {
  UnpackResult res;
  const std::string path = spool.PathOf(name, mailformat::kContainerExt);
  auto fail = [&res](UnpackStatus s, std::string e) {
    res.status = s;
    res.error = std::move(e);
    return res;
  };
  const std::string rawName = RawSpoolName(name, SourceTrust::Network);
  // An earlier run got as far as the descriptor (or the raw message): that part is done.
  if (spool.Exists(name, mailformat::kDescriptorExt) || spool.Exists(rawName, mailformat::kRawExt) ||
      spool.Exists(rawName, mailformat::kFailedExt)) {
    res.rawMessage = spool.Exists(rawName, mailformat::kRawExt);
    res.rawName = rawName;
    return res;
  }
  // A content file without its descriptor is what an interrupted unpack left: it goes again.
  spool.Remove(name, mailformat::kContentExt);
  spool.Remove(name, mailformat::kEncryptedExt);

  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fail(UnpackStatus::Transient, SysError("open", path, errno));
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return fail(UnpackStatus::Corrupt, "the download is not a plain file");
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  unsigned char head[12];
  if (fileSize < 12 || !ReadExact(fd, reinterpret_cast<char*>(head), 12))
    return fail(UnpackStatus::Corrupt, "the download is too short");
  const uint32_t envZ = Le32(head), envLen = Le32(head + 4), bodyLen = Le32(head + 8);
  if (envZ > fileSize - 12 || envZ > kMaxEnvelopeBytes || envLen > kMaxEnvelopeBytes)
    return fail(UnpackStatus::Corrupt, "the envelope's lengths do not fit the download");
  const uint64_t bodyZ = fileSize - 12 - envZ;
  if (bodyLen > 0 && bodyZ == 0) return fail(UnpackStatus::Corrupt, "the download has no file");

  std::string xml;
  xml.reserve(envLen);
  std::string err;
  if (!Decompress(fd, envZ, envLen, [&xml](std::string_view b) { xml += b; return true; }, err))
    return fail(UnpackStatus::Corrupt, "envelope: " + err);
  EnvelopeInfo info;
  if (!ParseEnvelope(xml, info, &err)) return fail(UnpackStatus::Corrupt, err);
  res.encrypted = info.encrypted;
  res.rawMessage = info.rawMessage;

  // A declared size the disk cannot hold is refused before anything is written.
  struct statvfs vfs;
  if (::statvfs(spool.folder().c_str(), &vfs) == 0) {
    const uint64_t avail = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    if (uint64_t(bodyLen) + kDiskReserve > avail)
      return fail(UnpackStatus::Transient, "not enough room on the disk for a file of " +
                                               std::to_string(bodyLen) + " bytes");
  }

  const std::string bodyName = info.rawMessage ? rawName : std::string(name);
  const std::string_view bodyExt = info.rawMessage   ? mailformat::kRawExt
                                   : info.encrypted ? mailformat::kEncryptedExt
                                                    : mailformat::kContentExt;
  SpoolFileWriter body;
  if (!body.Open(spool, bodyName, bodyExt)) return fail(UnpackStatus::Transient, body.errorText());
  if (::lseek(fd, static_cast<off_t>(12 + envZ), SEEK_SET) < 0)
    return fail(UnpackStatus::Corrupt, SysError("read", path, errno));
  bool sinkFailed = false;
  if (!Decompress(fd, bodyZ, bodyLen,
                  [&](std::string_view b) {
                    if (body.Write(b)) return true;
                    sinkFailed = true;
                    return false;
                  },
                  err)) {
    if (sinkFailed) return fail(UnpackStatus::Transient, body.errorText());
    return fail(UnpackStatus::Corrupt, "file: " + err);
  }
  if (!body.Commit()) return fail(UnpackStatus::Transient, body.errorText());
  if (info.rawMessage) {
    res.rawName = rawName;
    return res;
  }
  std::string werr;
  if (!spool.WriteFile(name, mailformat::kDescriptorExt, mailformat::FormatPartDescriptor(info.descriptor), &werr)) {
    spool.Remove(bodyName, bodyExt);
    return fail(UnpackStatus::Transient, werr);
  }
  return res;
}

}  // namespace px::incoming
