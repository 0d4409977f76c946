#include "transport/service_route.h"

#include "foundation/address.h"
#include "foundation/dates.h"
#include "foundation/random.h"
#include "foundation/text_case.h"
#include "mailformat/message_id.h"
#include "store/doc_record.h"
#include "transport/crypto_seam.h"
#include "transport/outgoing.h"
#include "transport/service_protocol.h"
#include "transport/upload_record.h"

#include <QMimeDatabase>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace px::transport {

std::string ContentTypeOf(std::string_view ext) {
  if (ext.empty()) return {};
  static const QMimeDatabase db;
  const QMimeType t = db.mimeTypeForFile("x." + QString::fromUtf8(ext.data(), static_cast<int>(ext.size())),
                                         QMimeDatabase::MatchExtension);
  if (!t.isValid() || t.isDefault()) return {};
  return t.name().toStdString();
}

ServiceRoute::ServiceRoute(ServiceRouteSettings settings, RandomSource& random, Crypto& crypto)
    : settings_(std::move(settings)), random_(random), crypto_(crypto), client_(settings_.http) {
  client_.SetBasicAuth(settings_.user, settings_.password);
}

RouteOutcome ServiceRoute::Deliver(const OutgoingMessage& m, const Progress& progress) {
  RouteOutcome out;
  UploadStream stream;
  std::string error;
  if (!stream.Create(settings_.tempFolder, random_, &error)) {
    out.code = teCommunication;
    out.text = error;
    return out;
  }
  uint64_t done = 0;
  auto onBytes = [&](uint64_t n) {
    done += n;
    return !progress || progress(done / 2);  // packing is the first half of the work
  };
  const std::string date = FormatMailDate(NowDateTime());
  // Encrypted parts go as one copy per recipient, each to that recipient's key only.
  std::vector<std::string> keyed;
  const bool encrypt = crypto_.Available() && std::any_of(m.parts.begin(), m.parts.end(), [](const OutgoingPart& p) {
                         return (p.flags & store::dfEncrypted) != 0;
                       });
  if (encrypt) {
    std::string warnings;
    if (!FetchKeys(m, &keyed, &out, &warnings)) return out;
    out.notice = warnings;
  }
  // Temporary encrypted copies are removed whatever happens.
  std::vector<std::string> temporaries;
  struct Cleanup {
    std::vector<std::string>& files;
    ~Cleanup() {
      for (const auto& f : files) std::remove(f.c_str());
    }
  } cleanup{temporaries};
  for (size_t i = 0; i < m.parts.size(); ++i) {
    const OutgoingPart& p = m.parts[i];
    EnvelopeFields f;
    f.from = p.from.empty() ? settings_.ownFromAddress : p.from;
    f.user = settings_.user;
    f.to = m.to;
    f.cc = m.ccList;
    f.bcc = m.bccList;
    f.date = date;
    std::string ext = store::ExtensionOf(p.fileName);
    for (auto& c : ext)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    f.subject = p.title.empty() ? store::StripExtension(p.fileName) : p.title;
    f.mimeType = ContentTypeOf(ext);
    f.noTags = settings_.noTags;
    f.charset = p.charset;
    f.fileName = p.fileName;
    f.ext = ext;
    if (!p.msgId.empty()) {
      const mailformat::MessageId id = mailformat::ParseMessageId(p.msgId);
      f.msgId = id.base;
      if (id.total) {
        f.parts = id.total;
        f.currPart = id.part;
      }
    }
    if (encrypt && (p.flags & store::dfEncrypted)) {
      f.ext = std::string(kEncryptedKindPrefix) + ext;
      f.mimeType.clear();
      for (const std::string& r : keyed) {
        const std::string copy = settings_.tempFolder + "PX" + std::to_string(random_.Below(1000000000)) +
                                 std::to_string(random_.Below(1000000000)) + ".pgp";
        temporaries.push_back(copy);
        std::string why;
        if (!crypto_.EncryptFile(p.filePath, copy, KeyAddressOf(r), &why)) {
          out.messageOnly = true;
          out.text = "The message \"" + f.subject + "\" could not be encrypted for " + r + ": " + why +
                     " It stays in the outbox.";
          return out;
        }
        struct stat st;
        if (::stat(copy.c_str(), &st) != 0) {
          out.code = teCommunication;
          out.text = "Cannot read " + copy;
          return out;
        }
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        const std::string text = EnvelopeText(f, size, keyed.size() > 1 ? StripServiceDomain(r) : std::string());
        if (!stream.AppendRecord(text, copy, size, &error, onBytes)) {
          out.code = teCommunication;
          out.text = error;
          return out;
        }
      }
      continue;
    }
    const std::string text = EnvelopeText(f, p.fileSize);
    if (!stream.AppendRecord(text, p.filePath, p.fileSize, &error, onBytes)) {
      out.code = teCommunication;
      out.text = error;
      return out;
    }
  }
  const uint64_t size = stream.Size();
  ::lseek(stream.Fd(), 0, SEEK_SET);
  const uint64_t packed = done / 2;
  client_.SetProgress([&](int64_t sent, int64_t, int64_t, int64_t) {
    const uint64_t share = size ? static_cast<uint64_t>(sent) * (done - packed) / size : 0;
    return !progress || progress(packed + share);
  });
  const HttpResult r = client_.PostStream(ServiceUrl(settings_.host, PutMailPath(stream.RecordLengths())),
                                          stream.Fd(), static_cast<int64_t>(size));
  client_.SetProgress({});
  if (!r.Ok()) {
    out.code = ErrorCodeOf(r, teCommunication);
    out.text = r.error;
    return out;
  }
  if (!UploadAccepted(r.body, size)) {
    out.code = teCommunication;
    out.text = "The server did not confirm the whole upload.";
    return out;
  }
  out.accepted = true;
  return out;
}

std::string ServiceRoute::KeyAddressOf(std::string_view recipient) {
  return recipient.find('@') == std::string_view::npos ? AddServiceDomain(recipient) : std::string(recipient);
}

bool ServiceRoute::FetchKeys(const OutgoingMessage& m, std::vector<std::string>* keyed, RouteOutcome* out,
                             std::string* warnings) {
  std::vector<std::string> noKey;
  std::set<std::string> seen;
  const std::string self = AsciiLower(StripServiceDomain(settings_.user));
  for (const StringList* list : {&m.to, &m.ccList, &m.bccList}) {
    for (const std::string& element : *list) {
      const std::string bare = BareAddressOf(element);
      const std::string reduced = StripServiceDomain(bare);
      const std::string lower = AsciiLower(reduced);
      if (lower.empty() || !seen.insert(lower).second) continue;
      const std::string address = KeyAddressOf(reduced);
      if (!fetched_.count(lower)) {
        // Our own key is never fetched: mail to ourselves uses the key pair held here.
        if (lower != self) {
          const HttpResult r = client_.PostForm(ServiceUrl(settings_.host, KeyServerPath()),
                                                {{"type", "listkey"}, {"who", reduced}});
          if (!r.Ok()) {
            out->code = ErrorCodeOf(r, teCommunication);
            out->text = r.error;
            return false;
          }
          if (r.body.find("BEGIN PGP") == std::string::npos) {
            noKey.push_back(element);
            continue;
          }
          std::string warning, error;
          if (!crypto_.ImportKeyFor(r.body, address, &warning, &error)) {
            noKey.push_back(element);
            continue;
          }
          if (!warning.empty()) *warnings += (warnings->empty() ? "" : "\r") + warning;
        }
        if (!crypto_.HasKeyFor(address)) {
          noKey.push_back(element);
          continue;
        }
        fetched_.insert(lower);
      }
      keyed->push_back(reduced);
    }
  }
  if (!noKey.empty()) {
    // Held back, never sent in clear; the rest of the run goes on.
    out->messageOnly = true;
    out->text = NoKeyNotice(noKey);
    return false;
  }
  return true;
}

}  // namespace px::transport
