#pragma once
// Builds one Internet message (RFC 5322 + MIME) from the documents of one queued message: the
// body (text, an HTML message stored as ".eml", or an HTML page) and the other parts as
// attachments. The message is written in pieces to a sink, files are read in chunks, so a
// 50 MB attachment is never held in memory.
//
// What goes out is always safe to hand to any SMTP server: header values never carry CR or LF
// from their input, no line is longer than 998 octets, and 8-bit content is sent
// quoted-printable or base64 (so the server need not offer 8BITMIME).
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/file_status.h"
#include "foundation/types.h"

namespace px {
class RandomSource;
}

namespace px::transport {

struct MimePart {
  std::string path;      // the document's file
  std::string name;      // the name the recipient sees, with its extension (UTF-8)
  std::string ext;       // lower-case extension without the dot
  std::string charset;   // the part's Charset ("" = UTF-8)
};

struct InternetMessage {
  std::string from;      // one address element in the stored form
  std::string to, cc, bcc;  // address lists in the stored form, groups already expanded
  std::string subject;   // in `charset`
  std::string charset;   // charset of the subject and the names in the address lists ("" = UTF-8)
  DateTime date = 0;     // local time; 0 = now
  std::string messageId;   // without angle brackets
  std::string inReplyTo;   // message ids in angle brackets, blank-separated
  std::string references;
  // Part 1 is the body when its extension is "txt", "eml", "htm" or "html"; every other part
  // (and part 1 of any other kind) goes as an attachment.
  std::vector<MimePart> parts;
};

// The envelope: the bare sender and every recipient of To, Cc and Bcc once (service users with
// the service domain added). `invalid` receives elements that are no usable address.
struct Envelope {
  std::string mailFrom;
  std::vector<std::string> recipients;
  std::vector<std::string> invalid;
};
Envelope EnvelopeOf(const InternetMessage& m);

// A unique Message-ID (without brackets) from the message id base and the sender's domain.
std::string MakeMessageId(std::string_view base, std::string_view fromAddress);

using ByteSink = std::function<bool(std::string_view)>;

// Writes the message. A failure when a part's file cannot be read or the sink fails.
FileStatus WriteInternetMessage(const InternetMessage& m, RandomSource& random, const ByteSink& sink);

// ---- header pieces (exposed for the tests) ----------------------------------------------------

// An unstructured header value (the subject): ASCII stays as it is, anything else becomes
// RFC 2047 encoded words in UTF-8; folded so no line passes 78 characters. `name` is the header
// name without ":" (it counts towards the first line).
std::string EncodeUnstructured(std::string_view name, std::string_view text, std::string_view charset);
// An address list for From/To/Cc: display names quoted or encoded, service users given their
// domain, folded between elements.
std::string EncodeAddressList(std::string_view name, std::string_view list, std::string_view charset);
// Content-Disposition parameters for a file name: filename="..." for plain ASCII names, the
// RFC 2231 form (split into numbered pieces when long) otherwise. Starts with ";".
std::string FileNameParams(std::string_view utf8Name);

}  // namespace px::transport
