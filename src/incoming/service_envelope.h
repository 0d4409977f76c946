#pragma once
// A download from the mail service (".$$7": three little-endian 32-bit lengths, the bzip2
// envelope, the bzip2 file) unpacked into a part descriptor and a content file of the spool.
// Everything in it comes from the network: lengths are checked against the file, the envelope
// is capped, decompression stops at the declared size, and marker kinds other than a delivery
// receipt are never passed on.
#include <cstdint>
#include <string>
#include <string_view>

#include "mailformat/part_descriptor.h"
#include "mailformat/pseudo_headers.h"
#include "transport/upload_record.h"

namespace px::mailformat {
class MailSpool;
}

namespace px::incoming {

// Tagged line that only the unpacker writes: the descriptor came from the mail service, so a
// receipt kind in it is genuine.
inline constexpr std::string_view kUnpackedLine = "_Unpacked";
using transport::kEncryptedKindPrefix;

// Largest envelope, compressed or not. Real ones are a few hundred bytes.
inline constexpr uint32_t kMaxEnvelopeBytes = 16u << 20;

struct EnvelopeInfo {
  mailformat::PartDescriptor descriptor;
  bool encrypted = false;  // the body goes to ".$$3"
  bool rawMessage = false; // extension "msg_": the body is an Internet message, no descriptor
};

// Parses envelope text (read as ISO-8859-1 whatever it declares; a missing declaration is
// tolerated) into the descriptor the filer reads. False with *error when it does not parse or
// has no Header.
bool ParseEnvelope(std::string_view xml, EnvelopeInfo& out, std::string* error = nullptr);

// The text as the envelope's attributes give it: ISO-8859-1 characters back to their bytes
// (the bytes of the sender's charset), anything above U+00FF kept as UTF-8.
std::string Latin1Bytes(std::string_view utf8);

enum class UnpackStatus {
  Ok,
  Corrupt,    // the download is unusable: keep it aside and report it
  Transient,  // it could not be unpacked now (no room, cannot write): leave it for later
};

struct UnpackResult {
  UnpackStatus status = UnpackStatus::Ok;
  std::string error;
  bool rawMessage = false;  // the body became a raw message (see RawSpoolName)
  std::string rawName;      // its spool name
  bool encrypted = false;
};

// Unpacks spool file name + ".$$7" into name + ".$$1" and name + ".$$2" (".$$3" when
// encrypted; a raw message of network trust when the envelope says "msg_"). The content file
// is committed before the descriptor, so the filer never sees one without the other. A pair
// already there from an earlier, interrupted run is kept and counts as done. The download
// itself is not touched.
UnpackResult UnpackContainer(mailformat::MailSpool& spool, std::string_view name);

// The key by which a repeat of spool download `name` is known (ServiceMessageKey of its
// sender and message id with the part, then its kind, direction and a digest of its subject),
// read from its envelope; empty for a delivery receipt (filing one twice changes nothing), a
// download without a message id, or one whose envelope cannot be read (then unpacking tells
// what is wrong).
std::string ContainerKeyOf(mailformat::MailSpool& spool, std::string_view name);

// Spool names of raw messages carry the trust of their source: "-n" for mail straight from
// the network, "-t" for what the program or an import wrote; a plain name is the POP3
// receiver's.
std::string RawSpoolName(std::string_view base, mailformat::SourceTrust trust);
mailformat::SourceTrust TrustOfRawName(std::string_view name);

}  // namespace px::incoming
