#include "incoming/pgp_decryptor.h"

#include "foundation/ini_file.h"
#include "mailformat/mime_header.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace px::incoming {

namespace {

// Larger messages are filed as they are.
constexpr size_t kMaxEncryptedMessage = 64u << 20;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The header block's fields, unfolded: name and value (raw), in order.
struct HeaderField {
  std::string name, value;
  size_t begin = 0, end = 0;  // the field's bytes, continuation lines included
};

std::vector<HeaderField> Fields(std::string_view head) {
  std::vector<HeaderField> out;
  size_t pos = 0;
  while (pos < head.size()) {
    size_t eol = head.find('\n', pos);
    size_t next = eol == std::string_view::npos ? head.size() : eol + 1;
    const std::string_view line = head.substr(pos, next - pos);
    if ((line[0] == ' ' || line[0] == '\t') && !out.empty()) {
      out.back().value += std::string(mailformat::TrimView(line));
      out.back().end = next;
    } else {
      const size_t colon = line.find(':');
      HeaderField f;
      f.begin = pos;
      f.end = next;
      if (colon != std::string_view::npos) {
        f.name = Lower(mailformat::TrimView(line.substr(0, colon)));
        f.value = std::string(mailformat::TrimView(line.substr(colon + 1)));
      }
      out.push_back(std::move(f));
    }
    pos = next;
  }
  return out;
}

bool WriteNew(const std::string& path, std::string_view bytes, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = "Cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  const int e = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    *error = "Cannot write " + path + ": " + std::strerror(e);
  }
  return ok;
}

}  // namespace

Decryptor::MessageOutcome PgpDecryptor::DecryptMessage(const std::string& in, const std::string& out) {
  MessageOutcome o;
  if (!bridge_.Available()) return o;
  std::string bytes;
  if (!ReadWholeFile(in, bytes, kMaxEncryptedMessage).ok()) return o;
  size_t sep = bytes.find("\r\n\r\n");
  size_t sepLen = 4;
  const size_t lf = bytes.find("\n\n");
  if (lf != std::string::npos && (sep == std::string::npos || lf < sep)) {
    sep = lf;
    sepLen = 2;
  }
  if (sep == std::string::npos) return o;
  const std::string_view head = std::string_view(bytes).substr(0, sep + sepLen / 2);
  const std::string_view body = std::string_view(bytes).substr(sep + sepLen);
  const std::vector<HeaderField> fields = Fields(head);
  std::string type, encoding;
  for (const auto& f : fields) {
    if (f.name == "content-type") type = f.value;
    if (f.name == "content-transfer-encoding") encoding = Lower(f.value);
  }
  const std::string lowerType = Lower(type);
  const std::string eol = sepLen == 4 ? "\r\n" : "\n";

  auto fail = [&](const crypto::DecryptResult& r) {
    o.state = MessageState::Failed;
    o.error = r.status.Message();
    return o;
  };
  auto signatureOf = [&](const crypto::DecryptResult& r) {
    if (r.signature.present) o.signature = r.signature.Summary();
  };

  if (lowerType.starts_with("multipart/encrypted") &&
      Lower(mailformat::HeaderParam(type, "protocol=")) == "application/pgp-encrypted") {
    // PGP/MIME: the second part is the armoured message, whose plain text is a whole MIME entity
    // that takes the place of the message's own content headers.
    std::vector<crypto::ArmourBlock> blocks = crypto::FindArmour(body, 4);
    const crypto::ArmourBlock* message = nullptr;
    for (const auto& b : blocks)
      if (b.kind == "MESSAGE") message = &b;
    if (!message) return o;
    std::string entity;
    const crypto::DecryptResult r =
        bridge_.DecryptData(body.substr(message->begin, message->end - message->begin), &entity);
    if (!r.status.ok()) return fail(r);
    signatureOf(r);
    std::string rebuilt;
    for (const auto& f : fields)
      if (f.name != "content-type" && f.name != "content-transfer-encoding" && f.name != "mime-version")
        rebuilt.append(head.substr(f.begin, f.end - f.begin));
    rebuilt += "MIME-Version: 1.0" + eol;
    // An entity without headers is plain text.
    if (entity.starts_with("\r\n") || entity.starts_with("\n")) rebuilt += "Content-Type: text/plain" + eol;
    rebuilt += entity;
    if (!WriteNew(out, rebuilt, &o.error)) {
      o.state = MessageState::Failed;
      return o;
    }
    o.state = MessageState::Decrypted;
    return o;
  }

  // Inline: armoured messages in a plain text that is not itself encoded.
  if ((!lowerType.empty() && !lowerType.starts_with("text/plain")) || encoding == "base64" ||
      encoding == "quoted-printable")
    return o;
  const std::vector<crypto::ArmourBlock> blocks = crypto::FindArmour(body, 16);
  std::string rebuilt(head);
  rebuilt += eol;
  size_t at = 0;
  bool any = false;
  for (const auto& b : blocks) {
    if (b.kind != "MESSAGE") continue;
    std::string plain;
    const crypto::DecryptResult r = bridge_.DecryptData(body.substr(b.begin, b.end - b.begin), &plain);
    if (!r.status.ok()) return fail(r);
    signatureOf(r);
    rebuilt.append(body.substr(at, b.begin - at));
    rebuilt += plain;
    at = b.end;
    any = true;
  }
  if (!any) return o;
  rebuilt.append(body.substr(at));
  if (!WriteNew(out, rebuilt, &o.error)) {
    o.state = MessageState::Failed;
    return o;
  }
  o.state = MessageState::Decrypted;
  return o;
}

}  // namespace px::incoming
